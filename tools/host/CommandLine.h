// What every command of the host tool shares: its failures and the way it
// reads numbers from the command line.
#pragma once

#include "format/DisplayValueParser.h" // parseNumber

#include <cstdlib>
#include <string>
#include <utility>

// Exit statuses: 1 for files and the plug-in, 2 for the command line.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

class CommandError {
public:
    CommandError(int status, std::string message) : status(status), message(std::move(message)) {}
    int status;
    std::string message;
};

inline bool parseInteger(const std::string& text, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end && *end == 0;
}
