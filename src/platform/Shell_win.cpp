#include "platform/znShell.h"

#include <windows.h>
#include <shellapi.h>

namespace {

class TznWinShell : public IznShell
{
public:
    bool Open(const QString& link) override
    {
        const auto rc = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, nullptr,
            reinterpret_cast<LPCWSTR>(link.utf16()), nullptr, nullptr, SW_SHOWNORMAL));
        return rc > 32;
    }
};

} // namespace

IznShell& DefaultShell()
{
    static TznWinShell shell;
    return shell;
}
