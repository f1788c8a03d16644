// The error raised by the program's handlers; the application's event loop shows its message in
// the standard error box and goes on.
#pragma once

#include <QString>

#include <exception>
#include <string>

class Error : public std::exception {
public:
    explicit Error(QString message) : message_(std::move(message)), utf8_(message_.toStdString()) {}
    const QString& message() const { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QString message_;
    std::string utf8_;
};

// An input/output error of the file system, with its Windows error code (2, 3, 5 …).
class InOutError : public Error {
public:
    explicit InOutError(int code);
    int code() const { return code_; }

private:
    int code_;
};
