#include "engine/znMatch.h"

#include "engine/VBScriptRegex.h"

#include <QHash>

#include <memory>

TznMatch* Matcher = nullptr;

TznMatch::TznMatch() = default;
TznMatch::~TznMatch() = default;

namespace {

// Compiled expressions of the calling thread. A batch tests the same mask
// and RegExt on every file, so a handful of entries covers a whole walk;
// the cache only saves compilation, every result is the engine's.
std::shared_ptr<IRegex> compiled(const QString& pattern)
{
    thread_local QHash<QString, std::shared_ptr<IRegex>> cache;
    auto it = cache.constFind(pattern);
    if (it != cache.constEnd())
        return it.value();
    if (cache.size() >= 32)
        cache.clear();
    auto re = Regex::Compile(pattern, roIgnoreCase);
    cache.insert(pattern, re);
    return re;
}

} // namespace

bool TznMatch::MatchName(const QString& path, const QString& pattern)
{
    try {
        return compiled(pattern)->IsMatch(path);
    } catch (...) {
        return true;
    }
}
