#include "gui/toolkit/WindowClassName.h"

#include <cstring>

void buildWindowClassName(const char* modulePath, const char* suffix, char (&name)[kClassNameSize])
{
    const char* fileName = "";
    if (modulePath != nullptr) {
        const char* lastBackslash = std::strrchr(modulePath, '\\');
        if (lastBackslash != nullptr) {
            fileName = lastBackslash + 1;
        }
    }
    if (suffix == nullptr) {
        suffix = "";
    }
    const std::size_t room = kClassNameSize - 1;
    std::size_t suffixLength = std::strlen(suffix);
    if (suffixLength > room) {
        suffixLength = room;
    }
    std::size_t fileLength = std::strlen(fileName);
    if (fileLength > room - suffixLength) {
        fileName += fileLength - (room - suffixLength); // keep the end of the name, nearest the suffix
        fileLength = room - suffixLength;
    }
    std::memcpy(name, fileName, fileLength);
    std::memcpy(name + fileLength, suffix, suffixLength);
    name[fileLength + suffixLength] = '\0';
}
