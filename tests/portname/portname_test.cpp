// The form of a port name "COMn" and the folder of its aliases, as the tool resolves them and
// as the simulator links them.
#include <gtest/gtest.h>

#include <QString>
#include <filesystem>
#include <optional>
#include <string>

#include "devices/comnames.h"
#include "portname/portname.h"
#include "sim/portalias.h"
#include "tests/privatedir.h"

namespace {

struct TNameCase {
  const char* Name;
  int Number;  // 0: not a port name
};

constexpr TNameCase kNames[] = {
    {"COM1", 1},
    {"COM32", 32},
    {"COM33", 33},            // beyond the selector, still reachable through an alias
    {"COM999999", 999999},    // six digits
    {"COM0", 0},              // the tool counts from 1
    {"COM01", 0},             // a leading zero: a second name for COM1
    {"COM007", 0},
    {"COM1000000", 0},        // seven digits
    {"com1", 0},              // the tool reads capitals only
    {"Com1", 0},
    {"COM", 0},
    {"COM-1", 0},
    {"COM+1", 0},
    {"COM 1", 0},
    {"COM1 ", 0},
    {"COM1x", 0},
    {"COM1/../x", 0},         // must never lead outside the alias folder
    {"../COM1", 0},
    {"", 0},
};

TEST(PortNameTest, OneRuleForTheToolAndTheSimulator) {
  for (const TNameCase& c : kNames) {
    EXPECT_EQ(ComNameNumber(c.Name), c.Number) << c.Name;
    EXPECT_EQ(ComNumber(QString::fromLatin1(c.Name)), c.Number) << c.Name;
    EXPECT_EQ(zirvsim::IsValidPortName(c.Name), c.Number != 0) << c.Name;
  }
}

TEST(PortNameTest, NonAsciiLookalikesAreNoPortNames) {
  EXPECT_EQ(ComNumber(QStringLiteral("COM\u0661")), 0);  // an Arabic-Indic digit one
  EXPECT_EQ(ComNumber(QStringLiteral("\uFF23OM1")), 0);  // a full-width C
}

// Sets an environment variable for the life of the object; nullptr unsets it.
class TScopedVariable {
 public:
  TScopedVariable(const char* name, const char* value) : FName(name) {
    if (const char* old = getenv(name)) FOld = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~TScopedVariable() { FOld ? setenv(FName, FOld->c_str(), 1) : unsetenv(FName); }

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

struct TFolderCase {
  const char* Name;
  const char* XdgConfigHome;  // "<tmp>" stands for a private folder; nullptr: unset
  const char* Home;
  const char* Folder;         // below the private folder; nullptr: no alias folder
};

constexpr TFolderCase kFolders[] = {
    {"xdg_first", "<tmp>/xdg", "<tmp>/home", "/xdg/zirv7tune/ports"},
    {"home_without_xdg", nullptr, "<tmp>/home", "/home/.config/zirv7tune/ports"},
    {"empty_xdg_is_unset", "", "<tmp>/home", "/home/.config/zirv7tune/ports"},
    {"relative_xdg_is_ignored", "xdg", "<tmp>/home", "/home/.config/zirv7tune/ports"},
    {"slash_at_the_end", nullptr, "<tmp>/home/", "/home/.config/zirv7tune/ports"},
    {"xdg_without_home", "<tmp>/xdg", nullptr, "/xdg/zirv7tune/ports"},
    {"neither", nullptr, nullptr, nullptr},
    {"empty_home", nullptr, "", nullptr},
    {"relative_home", "", "home", nullptr},
};

// The tool resolves COM3 through the folder the simulator links it in, and where there is no
// folder, the tool goes to the legacy port and the simulator refuses to link.
TEST(PortNameTest, OneAliasFolderForTheToolAndTheSimulator) {
  const TPrivateDir dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::string tmp = dir.Path();
  const auto expand = [&](const char* v) -> std::optional<std::string> {
    if (!v) return std::nullopt;
    std::string s = v;
    if (s.rfind("<tmp>", 0) == 0) s = tmp + s.substr(5);
    return s;
  };
  const std::string device = tmp + "/ttyUSB0";
  for (const TFolderCase& c : kFolders) {
    SCOPED_TRACE(c.Name);
    const std::optional<std::string> xdg = expand(c.XdgConfigHome), home = expand(c.Home);
    TScopedVariable xdgVariable("XDG_CONFIG_HOME", xdg ? xdg->c_str() : nullptr);
    TScopedVariable homeVariable("HOME", home ? home->c_str() : nullptr);
    const std::string folder = c.Folder ? tmp + c.Folder : std::string();
    EXPECT_EQ(PortAliasFolder(), folder);
    EXPECT_EQ(AliasFolder().toStdString(), folder);
    const std::string alias = zirvsim::PortAliasPath("COM3");
    const std::string refusal = zirvsim::CreatePortAlias(alias, device, false);
    const TPortTarget target = ResolvePort(QStringLiteral("COM3"));
    if (c.Folder) {
      EXPECT_EQ(alias, folder + "/COM3");
      EXPECT_EQ(refusal, "");
      EXPECT_EQ(target.Alias.toStdString(), alias);
      EXPECT_EQ(target.Device.toStdString(), device);
      zirvsim::RemovePortAlias(alias, device);
    } else {
      EXPECT_EQ(alias, "");
      EXPECT_EQ(refusal, kNoAliasFolder);
      EXPECT_EQ(target.Alias, QString());
      EXPECT_EQ(target.Device, QStringLiteral("/dev/ttyS2"));
    }
  }
}

}  // namespace
