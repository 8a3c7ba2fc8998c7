#pragma once

#include <QString>

#include <exception>
#include <string>

// The system's one error class: carries a message text that ends up on a
// result row, in a log line or in an error report.
class EznError : public std::exception
{
public:
    explicit EznError(QString message)
        : FMessage(std::move(message)), FUtf8(FMessage.toStdString()) {}

    // The message as the user sees it.
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.c_str(); }

private:
    QString FMessage;
    std::string FUtf8;
};
