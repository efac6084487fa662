// Fuzzes zirv7ctl's command line: the words of the input (separated by NUL bytes) run through
// the companion as its main runs them, up to where a port would open. Nothing outside a folder
// of the target's own is reached: the device root (/dev and /sys as the companion reads them)
// is an empty folder there, so no port opens; HOME and the XDG folders (aliases, run history,
// journal) lie there too; the input gives no answer to a question; and a '/' in a word becomes
// '_', so that every file an option names lies in the working folder, which is there as well.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "ctl/command.h"

namespace {

std::unique_ptr<QTemporaryDir> gSandbox;

void MakeSandbox() {
  gSandbox = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/zirv-ctlargs-fuzz-XXXXXX"));
  if (!gSandbox->isValid()) std::abort();
  const QString root = gSandbox->path();
  const std::pair<const char*, const char*> folders[] = {
      {"HOME", "home"},
      {"XDG_CONFIG_HOME", "config"},
      {"XDG_DATA_HOME", "data"},
      {"XDG_STATE_HOME", "state"},
      {"XDG_CACHE_HOME", "cache"},
      {"XDG_RUNTIME_DIR", "runtime"},
      {"ZIRV7TUNE_DEVICE_ROOT", "devices"},
      {"", "work"}};
  for (const auto& [variable, folder] : folders) {
    const QString path = root + u'/' + QLatin1String(folder);
    if (!QDir().mkpath(path) || !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
      std::abort();
    if (*variable) qputenv(variable, QFile::encodeName(path));
  }
  if (!QDir::setCurrent(root + QStringLiteral("/work"))) std::abort();
  // Removed at the end, also when libFuzzer ends the process after a finding.
  std::atexit([] { gSandbox.reset(); });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  MakeSandbox();
  // Pictures need fonts, which only a QGuiApplication offers; zirv7ctl makes one the same way.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  new QGuiApplication(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QStringList args = {QStringLiteral("zirv7ctl")};
  for (const QByteArray& word : QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0')) {
    QString text = QString::fromLocal8Bit(word);
    text.replace(u'/', u'_');
    args.append(text);
  }
  QString out, err, answers;
  QTextStream outStream(&out), errStream(&err), inStream(&answers);
  TCtlIo io{outStream, errStream, inStream};
  RunCtl(args, io);
  return 0;
}
