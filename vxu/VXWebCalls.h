// The framework's own calls to the web service: the server message, files,
// rich content, the splash image, the information text, and the account's
// sign-in, sign-out and state.
//
// Each call builds its form (values escaped, see VXHttp.h), posts it to the
// service (APP_URL; with none configured every call fails at once) and
// turns the reply into a value; anything but a 200 reply is failure:
//  - getServerMessage: the reply "###TITLE###t###BODY###b###URL###u###ID###i
//    ###OK_B###o###CANCEL_B###c###" (text before and after ignored) gives
//    the six fields; markers missing, out of order or without the closing
//    "###" give a message with no fields (valid() false).
//  - getFile: a non-empty body, else none.
//  - getRichContent: the body's lines (split at "\n"), more than three:
//    title, text, link and the file the fourth names (fetched with getFile;
//    none when that fails); three or fewer lines: none.
//  - getSplashScreen: a non-empty body, else none ("lasttime" is sent with
//    six decimals).
//  - getInfoText: the body, also when empty; none for any other status.
//  - VXLogin / VXLogout: the leading decimal number of a 200 reply; -1 for
//    anything else (no reply, another status, a reply that does not start
//    with a number), so a failure never reads as a signed-in 0. User and
//    password are escaped in the body and signed unescaped with
//    VEXEL_SHA_HASH_SECRET; a password is never sent over plain http to
//    anything but this machine, nor logged.
//  - VXCurrentAuthState: a non-empty body, else none.
// Endpoints: base + "/fluvane/motd/", "/fluvane/getFile/",
// "/fluvane/getRichContent/", "/fluvane/splashscreen/", "/fluvane/infotext/",
// and base + "/vexel/login/", "/vexel/logout/", "/vexel/authstate/".
//
// Threads: every call blocks and is made from a background thread; they
// share no state.
#ifndef VXU_VXWEBCALLS_H
#define VXU_VXWEBCALLS_H

#include <optional>
#include <string>
#include <string_view>

struct VXServerMessage {
  std::optional<std::string> messageID;
  std::optional<std::string> title;
  std::optional<std::string> body;
  std::optional<std::string> url;
  std::optional<std::string> cancelTitle;
  std::optional<std::string> okTitle;

  bool valid() const { return messageID.has_value(); }
};

struct VXRichContent {
  std::string title;
  std::string text;
  std::string link;
  std::optional<std::string> data;  // the file the fourth line names
};

// The grammar alone.
VXServerMessage parseServerMessage(std::string_view reply);
// A sign-in reply: its leading number, or -1.
int parseAuthReply(int status, const std::optional<std::string>& body);

VXServerMessage getServerMessage(const std::string& device, int appid, int affiliation);
std::optional<std::string> getFile(const std::string& path);
std::optional<VXRichContent> getRichContent(const std::string& device, int appid,
                                            const std::string& contentID);
std::optional<std::string> getSplashScreen(const std::string& device, int appid, int affiliation,
                                           double lastTime);
std::optional<std::string> getInfoText(const std::string& device, int appid, int affiliation);
int VXLogin(const std::string& user, const std::string& password);
int VXLogout(const std::string& user, const std::string& password);
std::optional<std::string> VXCurrentAuthState();

#endif
