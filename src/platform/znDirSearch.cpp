#include "platform/znDirSearch.h"

#include <algorithm>

namespace {

// Matches name[n..] against mask[m..]; both are case-folded already.
bool matchFrom(const QString& name, qsizetype n, const QString& mask, qsizetype m)
{
    while (m < mask.size()) {
        const QChar c = mask[m];
        if (c == u'*') {
            while (m < mask.size() && mask[m] == u'*')
                ++m;
            if (m == mask.size())
                return true;
            for (qsizetype k = n; k <= name.size(); ++k)
                if (matchFrom(name, k, mask, m))
                    return true;
            return false;
        }
        if (c == u'?') {
            const bool mayBeEmpty = m + 1 == mask.size() || mask[m + 1] == u'.' || mask[m + 1] == u'?';
            if (n < name.size() && matchFrom(name, n + 1, mask, m + 1))
                return true;
            if (!mayBeEmpty)
                return false;
            // "?" before "." or at the end takes nothing only when the name
            // has no character left there to take, or a "." comes next.
            if (n < name.size() && name[n] != u'.')
                return false;
            ++m;
            continue;
        }
        if (c == u'.' && n == name.size()) {
            // A trailing ".", ".*" or ".?" also matches a name without one.
            qsizetype k = m + 1;
            while (k < mask.size() && (mask[k] == u'*' || mask[k] == u'?'))
                ++k;
            return k == mask.size();
        }
        if (n >= name.size() || name[n] != c)
            return false;
        ++n;
        ++m;
    }
    return n == name.size();
}

} // namespace

bool MatchesWildcard(const QString& name, const QString& mask)
{
    if (mask == u"*" || mask == u"*.*")
        return true;
    return matchFrom(name.toCaseFolded(), 0, mask.toCaseFolded(), 0);
}

void SortByName(std::vector<TznSearchRec>& entries)
{
    std::sort(entries.begin(), entries.end(), [](const TznSearchRec& a, const TznSearchRec& b) {
        const int c = a.Name.compare(b.Name, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.Name < b.Name;
    });
}
