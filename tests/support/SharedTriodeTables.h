// Triode tables for the engine tests, built once per host rate and test
// program (each set takes milliseconds to solve) and handed to engines as
// the processing entry hands its own.
#pragma once

#include "engine/ProcessingEngine.h"

#include <map>
#include <memory>

inline const PreparedTriodeTables& sharedTriodeTables(double hostRate)
{
    static std::map<double, std::unique_ptr<const PreparedTriodeTables>> sets;
    std::unique_ptr<const PreparedTriodeTables>& set = sets[hostRate];
    if (!set)
        set = std::make_unique<const PreparedTriodeTables>(hostRate);
    return *set;
}
