#pragma once

#include "automation/znDispatch.h"

#include <QString>

#include <functional>
#include <memory>

// Makes a new automation object of one class on the calling thread.
using TznAutomationFactory = std::function<std::shared_ptr<IznDispatch>()>;

// The in-process class registry that maps ProgIDs to servers. It starts with the built-in
// servers; all functions may be called from any thread.

// Registers (or, with an empty factory, removes) the class of progId; returns the factory it replaced.
TznAutomationFactory RegisterAutomationClass(const QString& progId, TznAutomationFactory factory);
// The factory of progId (ProgIDs compare without letter case); empty when none is registered.
TznAutomationFactory FindAutomationClass(const QString& progId);
// Puts the built-in table back, dropping every other registration.
void ResetAutomationClasses();
