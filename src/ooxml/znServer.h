#pragma once

#include <memory>

class IznDispatch;

// A new application object of the built-in document server. Each one is independent of the
// others (documents, options, selection); only the clipboard is shared by the process.
std::shared_ptr<IznDispatch> CreateOoxmlApplication();

// The version text the server's application reports.
inline constexpr const char* OoxmlServerVersion = "16.0";
