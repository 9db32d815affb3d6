#pragma once

#include <QString>

// Why an update check failed: a domain, a code and a description.
struct UpdateError
{
    QString domain;
    int code = 0;
    QString description;

    // The machine has no network.
    static constexpr int kNoConnection = -1009;
    // The server did not answer in time.
    static constexpr int kTimedOut = -1001;
};
