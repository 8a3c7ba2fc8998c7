#include "UiTestSupport.h"

#include "info/znInfo.h"
#include "platform/znError.h"
#include "ui/znDocslimMain.h"
#include "ui/znWindowStartup.h"

#include <QApplication>
#include <QEvent>
#include <QTreeWidget>

#include <stdexcept>

namespace {

// An object whose event handler fails the way a handler of the window can.
class TznThrowingObject : public QObject
{
public:
    enum Kind { Standard, System, Foreign };
    explicit TznThrowingObject(Kind kind) : FKind(kind) {}

    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        switch (FKind) {
        case Standard:
            throw std::runtime_error("disk full");
        case System:
            throw EznError(QStringLiteral("Unable to create directory"));
        case Foreign:
            throw 42;
        }
        return true;
    }

private:
    Kind FKind;
};

struct ThrowCase
{
    TznThrowingObject::Kind kind;
    const char* message; // as the error report carries it
};

std::string caseName(const ::testing::TestParamInfo<ThrowCase>& info)
{
    static const char* const names[] = {"StandardError", "SystemError", "ForeignThrow"};
    return names[info.param.kind];
}

class WindowStartupTest : public UiTest, public ::testing::WithParamInterface<ThrowCase>
{
};

TEST_P(WindowStartupTest, ErrorOfHandlerDoesNotLeaveTheEventLoop)
{
    ASSERT_NE(qobject_cast<TznApplication*>(QApplication::instance()), nullptr);
    TznThrowingObject object(GetParam().kind);
    QEvent event(QEvent::User);
    bool handled = true;
    EXPECT_NO_THROW(handled = QApplication::sendEvent(&object, &event));
    EXPECT_FALSE(handled);
    EXPECT_EQ(Info->StoreValue(QStringLiteral("E")), QStringLiteral("1"));
    ASSERT_EQ(FShell->Links().size(), 1);
    const QString report = TznInfo::SiteUrl + QStringLiteral("/net/?a=err&e=")
                           + QString::fromUtf8(GetParam().message).replace(u' ', QStringLiteral("%20"))
                           + QStringLiteral("&p=docslim");
    EXPECT_TRUE(FShell->Links()[0].startsWith(report)) << FShell->Links()[0].toStdString();

    // Posted events go through the same path inside the loop.
    QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
    EXPECT_NO_THROW(QCoreApplication::processEvents());
    EXPECT_EQ(Info->StoreValue(QStringLiteral("E")), QStringLiteral("2"));
}

INSTANTIATE_TEST_SUITE_P(WindowStartup, WindowStartupTest,
                         ::testing::Values(ThrowCase{TznThrowingObject::Standard, "disk full"},
                                           ThrowCase{TznThrowingObject::System, "Unable to create directory"},
                                           ThrowCase{TznThrowingObject::Foreign, "Unknown error"}),
                         caseName);

class WindowStartupSourcesTest : public UiTest
{
};

// Documents a file manager opens together: the window starts listing a row
// for each of them, in their order, none dropped.
TEST_F(WindowStartupSourcesTest, ListsEveryGivenDocument)
{
    const QStringList sources{TempPath(QStringLiteral("a.docx")), TempPath(QStringLiteral("b.docx")),
                              TempPath(QStringLiteral("c.doc"))};
    const auto windows = StartWindows(sources);
    ASSERT_NE(windows->Main, nullptr);
    QTreeWidget* list = windows->Main->lViewer;
    ASSERT_TRUE(WaitUntil([list] { return list->topLevelItemCount() == 3; }, 5000)) << list->topLevelItemCount();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(list->topLevelItem(i)->text(1), sources[i]);
    EXPECT_TRUE(windows->Main->isVisible());
}

} // namespace
