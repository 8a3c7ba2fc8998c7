#pragma once

#include "automation/znDispatch.h"
#include "automation/znVariant.h"

#include <QList>
#include <QString>

// The call helpers: each looks the member up by name, then invokes it.
// Errors carry the server's own description, or the system's text for the failure.

// Method and property-get together, no arguments: the value of a property or a method's result.
TznVariant OleGet(const TznVariant& obj, const QString& member);
// Method call with positional arguments.
TznVariant OleCall(const TznVariant& obj, const QString& member, const QList<TznVariant>& args = {});
// Property assignment: the value goes as the property-put argument.
void OlePut(const TznVariant& obj, const QString& member, const TznVariant& value);

// A new object of the class registered under progId (see znRegistry.h); an unknown ProgID
// raises `Invalid class string, ProgID: "<progId>"`.
TznVariant CreateAutomationObject(const QString& progId);

// The major version of a version value: "16.0" gives 16, a text that only reads as a number
// without its first "." is divided by 10 from 78 up ("160" gives 16), anything else 0.
int MajorVersion(const TznVariant& value);
