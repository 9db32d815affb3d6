#pragma once

#include <stdexcept>
#include <string>

// What a worker catches while it runs a tool and hands to its delegate.
class WorkerException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
