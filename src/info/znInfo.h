#pragma once

#include <QString>

// Product information: usage counters, links to the vendor's site, error
// reports. Filled out with the usage store and the link rules.
class TznInfo
{
public:
    TznInfo();
    ~TznInfo();

    // Opens a page of the vendor's site (or a report) through the shell.
    void OpenLink(const QString& page, const QString& action, const QString& extra);
};

// The one product-information object of the process.
extern TznInfo* Info;
