#include "UiTestSupport.h"

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

class WindowStartupTest : public UiTest, public ::testing::WithParamInterface<TznThrowingObject::Kind>
{
};

TEST_P(WindowStartupTest, ErrorOfHandlerDoesNotLeaveTheEventLoop)
{
    ASSERT_NE(qobject_cast<TznApplication*>(QApplication::instance()), nullptr);
    TznThrowingObject object(GetParam());
    QEvent event(QEvent::User);
    bool handled = true;
    EXPECT_NO_THROW(handled = QApplication::sendEvent(&object, &event));
    EXPECT_FALSE(handled);

    // Posted events go through the same path inside the loop.
    QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
    EXPECT_NO_THROW(QCoreApplication::processEvents());
}

INSTANTIATE_TEST_SUITE_P(WindowStartup, WindowStartupTest,
                         ::testing::Values(TznThrowingObject::Standard, TznThrowingObject::System,
                                           TznThrowingObject::Foreign));

} // namespace
