// Server objects: the record grammar (well-formed, truncated, hostile), the
// request, and what an update keeps.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"
#include "vx_service_support.h"
#include "vxu/VXServerObject.h"

using platform::Paths;

namespace {

class ServerObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = Paths::join(Paths::home(), "so-defaults-XXXXXX");
    Paths::mkdirs(Paths::home());
    ASSERT_TRUE(mkdtemp(pattern.data()));
    dir = pattern;
    defaults = std::make_unique<platform::UserDefaults>(dir + "/Preferences.plist", 3600.0);
  }
  void TearDown() override {
    defaults.reset();
    Paths::remove(dir);
  }
  VXServerObject make(const std::string& name = "news") {
    return VXServerObject(name, spec, defaults.get());
  }

  std::string dir;
  std::unique_ptr<platform::UserDefaults> defaults;
  std::map<std::string, int> spec{{"headline", 4}, {"image", 5}, {"other", 9}};
};

TEST_F(ServerObjectTest, RecordsOfTheGrammar) {
  struct Case {
    std::string data;
    bool complete;
    std::map<std::string, std::string> values, files;
  };
  const Case cases[] = {
      // A 15-byte text, then an 8-byte file name with 6 bytes of file.
      {"headline/15:fifteen bytes!!image/8/6:pic1.pngABCDEF",
       true,
       {{"headline", "fifteen bytes!!"}, {"image", "pic1.png"}},
       {{"pic1.png", "ABCDEF"}}},
      // Other types are read and dropped; empty values are fine.
      {"other/3:abcheadline/0:", true, {{"headline", ""}}, {}},
      {"", true, {}, {}},
      // A name outside the field types ends the parse; the records before stay.
      {"headline/2:okunknown/1:xheadline/1:z", false, {{"headline", "ok"}}, {}},
      // Truncated: a value or a file longer than what is left.
      {"headline/2:okheadline/50:short", false, {{"headline", "ok"}}, {}},
      {"image/8/600:pic1.pngABCDEF", false, {}, {}},
      // Hostile lengths: not digits, empty, signs, overflow, no colon.
      {"headline/-1:x", false, {}, {}},
      {"headline/:x", false, {}, {}},
      {"headline/1x:x", false, {}, {}},
      {"headline/99999999999999999999999999:x", false, {}, {}},
      {"headline/18446744073709551615:x", false, {}, {}},
      {"headline/3", false, {}, {}},
      {"headline", false, {}, {}},
      // File names must be one plain path component.
      {"image/9/1:../x.confXheadline/1:y", false, {}, {}},
      {"image/2/1:..X", false, {}, {}},
      {"image/0/1:X", false, {}, {}},
      {std::string("image/3/1:a\0bX", 14), false, {}, {}},
  };
  for (const Case& c : cases) {
    VXServerObject object = make();
    EXPECT_EQ(object.parseData(c.data), c.complete) << c.data;
    EXPECT_EQ(object.newObject(), c.values) << c.data;
    EXPECT_EQ(object.newFiles(), c.files) << c.data;
  }
}

TEST_F(ServerObjectTest, TheRequestAndWhatAnUpdateKeeps) {
  ConfiguredService service;
  service.stub.on("/fluvane/serverobject/", stub::Reply::text("headline/5:hello"
                                                              "image/5/3:a.pngPNG"));
  platform::Clock::Override now(1000000.0);
  VXServerObject object = make("news feed");
  EXPECT_EQ(object.userDefaultsKey(), "VXServerObject-news feed");
  EXPECT_EQ(object.lastModification(), 0.0);
  EXPECT_FALSE(object.object());
  object.setCacheOnDisk(true);
  EXPECT_TRUE(object.update());

  stub::Request request = service.stub.requests().back();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.query, "device=dev-1&objectname=news%20feed&lastmodified=0");
  EXPECT_EQ(request.body, "");
  EXPECT_EQ(object.lastModification(), 1000000.0);
  EXPECT_EQ(object.object(),
            (std::map<std::string, std::string>{{"headline", "hello"}, {"image", "a.png"}}));
  std::string file = Paths::join(object.directory(), "a.png");
  EXPECT_EQ(Paths::readFile(file), "PNG");
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // The cache answers a new object of that name; the next request says when.
  VXServerObject again = make("news feed");
  EXPECT_EQ(again.object(), object.object());
  EXPECT_EQ(again.lastModification(), 1000000.0);
  EXPECT_EQ(again.requestQuery(), "device=dev-1&objectname=news%20feed&lastmodified=1000000");
  again.setForceUpdate(true);
  EXPECT_EQ(again.requestQuery(), "device=dev-1&objectname=news%20feed&lastmodified=0");

  // A broken reply, an error or nothing changes nothing.
  service.stub.on("/fluvane/serverobject/", stub::Reply::text("headline/50:cut"));
  EXPECT_FALSE(again.update());
  service.stub.on("/fluvane/serverobject/", stub::Reply::text("headline/1:x", 500));
  EXPECT_FALSE(again.update());
  service.stub.on("/fluvane/serverobject/", stub::Reply::text(""));
  EXPECT_FALSE(again.update());
  EXPECT_EQ(again.object(), object.object());
  EXPECT_EQ(again.lastModification(), 1000000.0);
}

}  // namespace
