#include "info/znInfo.h"

TznInfo* Info = nullptr;

TznInfo::TznInfo() = default;
TznInfo::~TznInfo() = default;

void TznInfo::OpenLink(const QString&, const QString&, const QString&)
{
}
