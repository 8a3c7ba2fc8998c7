#include "app/znProduct.h"

#include "app/znVersion.h"
#include "engine/znBatch.h"
#include "project/znProject.h"
#include "word/znDocslim.h"

void AssignProductConstants(TznProject& project)
{
    project.ConverterClass = &TznDocslim::Create;
    project.FileMask = QStringLiteral("*.doc?");
    project.SourceFilter = QStringLiteral("Word Document (*.doc;*.docx)|*.doc;*.docx");
    project.ProductCode = QStringLiteral("docslim");
    project.ProjectExt = QStringLiteral(".batch-") + project.ProductCode;
    project.ProjectFilter = QStringLiteral("Leafpress Project|*") + project.ProjectExt;
    project.Title = QStringLiteral("Leafpress Compactor");
    project.OverwriteDefault = false;
    project.Version = QString::fromLatin1(ProductVersion);
    SkipLockFiles = true;
}
