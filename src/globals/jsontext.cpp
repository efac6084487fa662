#include "globals/jsontext.h"

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

#include "globals/numtext.h"

namespace {

constexpr int kIndent = 4;

void AppendString(QByteArray& out, const QString& text) {
  out += '"';
  for (const char c : text.toUtf8()) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20)
          out += "\\u00" + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
        else
          out += c;
    }
  }
  out += '"';
}

// An integer beyond 2^53 (a run's id, say) keeps its digits: it is no double's text.
void AppendNumber(QByteArray& out, const QJsonValue& value) {
  const qint64 whole = value.toInteger();
  if (value.toVariant().typeId() == QMetaType::LongLong) out += QByteArray::number(whole);
  else out += JsonNumberText(value.toDouble()).toLatin1();
}

bool IsScalar(const QJsonValue& value) { return !value.isArray() && !value.isObject(); }

void AppendValue(QByteArray& out, const QJsonValue& value, int depth);

void Break(QByteArray& out, int depth) {
  out += '\n';
  out += QByteArray(depth * kIndent, ' ');
}

void AppendArray(QByteArray& out, const QJsonArray& array, int depth) {
  // A row of samples or numbers stays on one line; nested structures get a line each.
  const bool flat = std::all_of(array.begin(), array.end(), [](const QJsonValue& v) { return IsScalar(v); });
  out += '[';
  for (qsizetype k = 0; k < array.size(); ++k) {
    if (k > 0) out += flat ? ", " : ",";
    if (!flat) Break(out, depth + 1);
    AppendValue(out, array.at(k), depth + 1);
  }
  if (!flat && !array.isEmpty()) Break(out, depth);
  out += ']';
}

void AppendObject(QByteArray& out, const QJsonObject& object, int depth) {
  out += '{';
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (it != object.begin()) out += ',';
    Break(out, depth + 1);
    AppendString(out, it.key());
    out += ": ";
    AppendValue(out, it.value(), depth + 1);
  }
  if (!object.isEmpty()) Break(out, depth);
  out += '}';
}

void AppendValue(QByteArray& out, const QJsonValue& value, int depth) {
  switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined: out += "null"; break;
    case QJsonValue::Bool: out += value.toBool() ? "true" : "false"; break;
    case QJsonValue::Double: AppendNumber(out, value); break;
    case QJsonValue::String: AppendString(out, value.toString()); break;
    case QJsonValue::Array: AppendArray(out, value.toArray(), depth); break;
    case QJsonValue::Object: AppendObject(out, value.toObject(), depth); break;
  }
}

}  // namespace

QString JsonNumberText(double value) {
  if (!std::isfinite(value)) return QStringLiteral("null");
  return ExactNumberText(value);
}

QByteArray JsonText(const QJsonValue& value) {
  QByteArray out;
  AppendValue(out, value, 0);
  out += '\n';
  return out;
}
