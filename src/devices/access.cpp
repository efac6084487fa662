#include "devices/access.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <vector>

namespace {

QList<unsigned> SessionGroups() {
  const int count = ::getgroups(0, nullptr);
  std::vector<gid_t> groups(count > 0 ? count : 0);
  const int got = ::getgroups(int(groups.size()), groups.data());
  QList<unsigned> result{unsigned(::getegid())};
  for (int i = 0; i < got; ++i) result << unsigned(groups[i]);
  return result;
}

QList<unsigned> AccountGroups(const passwd& user) {
  int count = 32;
  std::vector<gid_t> groups(count);
  if (::getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) {
    groups.resize(count);
    if (::getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) count = 0;
  }
  return QList<unsigned>(groups.begin(), groups.begin() + count);
}

QString GroupName(gid_t gid) {
  const group* entry = ::getgrgid(gid);
  return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(gid);
}

QString ModeText(mode_t mode) {
  QString text;
  for (int shift = 6; shift >= 0; shift -= 3) {
    text += (mode >> shift) & 4 ? u'r' : u'-';
    text += (mode >> shift) & 2 ? u'w' : u'-';
    text += (mode >> shift) & 1 ? u'x' : u'-';
  }
  return text;
}

// The classic owner, group, others check, as the kernel makes it without access lists.
bool ModeAllows(const struct stat& node, const TIdentity& who) {
  if (who.Uid == 0) return true;
  if (who.Uid == node.st_uid) return (node.st_mode & 0600) == 0600;
  if (who.SessionGroups.contains(node.st_gid)) return (node.st_mode & 0060) == 0060;
  return (node.st_mode & 0006) == 0006;
}

}  // namespace

TIdentity CurrentIdentity() {
  TIdentity who;
  who.Uid = ::geteuid();
  who.SessionGroups = SessionGroups();
  if (const passwd* user = ::getpwuid(who.Uid)) who.AccountGroups = AccountGroups(*user);
  return who;
}

TNodeAccess CheckAccess(const QString& hostPath, const TIdentity& who) {
  TNodeAccess access;
  const QByteArray path = QFile::encodeName(hostPath);
  struct stat node {};
  if (::stat(path.constData(), &node) != 0) return access;
  const bool allowed = who.Process ? ::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) == 0
                                   : ModeAllows(node, who);
  access.Group = GroupName(node.st_gid);
  access.Mode = ModeText(node.st_mode);
  if (allowed) return access;
  if ((node.st_mode & 0060) != 0060) access.Verdict = TAccess::GroupLacks;
  else if (!who.AccountGroups.contains(node.st_gid)) access.Verdict = TAccess::JoinGroup;
  else if (!who.SessionGroups.contains(node.st_gid)) access.Verdict = TAccess::NewLogin;
  else access.Verdict = TAccess::Denied;
  return access;
}
