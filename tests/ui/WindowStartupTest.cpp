#include "UiTestSupport.h"

#include "info/znInfo.h"
#include "platform/znError.h"
#include "ui/znWindowStartup.h"

#include <QApplication>
#include <QEvent>

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

} // namespace
