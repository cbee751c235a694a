// What an operation hands back to main: 0, or a status with the message that
// the fatal path prints.
#pragma once

#include <string>

constexpr int status_usage = -1;
constexpr int status_failed = -2;

struct RunResult {
    int status = 0;
    std::string message;  // begins with a newline
};

inline RunResult run_failed(std::string message) { return RunResult{status_failed, std::move(message)}; }
