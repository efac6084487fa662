#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The base of every error the tool raises. An error ends the user action in progress and is
// shown by the application's standard error report (see errorreport.h).
class Exception : public std::exception {
 public:
  explicit Exception(QString message)
      : FMessage(std::move(message)), FWhat(FMessage.toLocal8Bit()) {}
  const QString& Message() const { return FMessage; }
  // Returns what the error means and what cures it, for under the message; "" when nothing.
  virtual QString Explanation() const { return QString(); }
  const char* what() const noexcept override { return FWhat.constData(); }

 private:
  QString FMessage;
  QByteArray FWhat;
};

// A text that should have been a number and is not.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};
