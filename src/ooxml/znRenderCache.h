#pragma once

#include "package/znPackage.h"
#include "package/znPartName.h"
#include "picture/znPicture.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <exception>

// Renderings of a document's media parts by part and request, each made once and reused
// (the result, or the error it raised), up to a budget of rendered bytes; and the bytes of
// the media part read last, since copies of one part often follow one another.
class TznRenderCache
{
public:
    // The rendering of part for request; raises what the rendering raised, every time.
    TznRendered Rendering(const TznPartName& part, const TznRenderRequest& request);
    // The bytes of part, read once while the same part is asked for again and again.
    const QByteArray& BytesOf(const TznPackage& package, const TznPartName& part);
    // Forgets what is known of one part (it was written anew).
    void Forget(const TznPartName& part);
    // Forgets everything (the media parts may have been rewritten).
    void Clear();

private:
    struct TznEntry
    {
        TznRendered Rendered;
        std::exception_ptr Error;
    };
    static constexpr qsizetype kMaxBytes = qsizetype(64) << 20;
    // By the part's key, then by the request.
    QHash<QString, QHash<QString, TznEntry>> FEntries;
    qsizetype FBytes = 0;
    TznPartName FLastPart;
    QByteArray FLastBytes;
};
