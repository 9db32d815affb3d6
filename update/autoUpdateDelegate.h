#pragma once

#include "UpdateError.h"

#include <optional>

class UpdateChecker;

// Told, on the GUI thread, that an update check has ended.
class autoUpdateDelegate
{
public:
    virtual ~autoUpdateDelegate() = default;
    // No error: the feed was read and the checker's updateInfo is up to date.
    virtual void autoUpdateDidFinish(UpdateChecker* checker,
                                     const std::optional<UpdateError>& updateException) = 0;
};
