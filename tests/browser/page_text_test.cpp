// Texts of the page channel: the MIME table and the event script.
#include <gtest/gtest.h>

#include "launcher/browser/browser_client.h"
#include "launcher/browser/page_bridge.h"
#include "launcher/browser/ui_resource_server.h"

TEST(MimeTypes, FollowTheLastDotOfThePathWithoutRegardToCase) {
    const char* rows[][2] = {
        {"index.html", "text/html"},       {"a.htm", "text/html"},
        {"assets/x.js", "text/javascript"}, {"x.mjs", "text/javascript"},
        {"s.css", "text/css"},              {"m.json", "application/json"},
        {"i.png", "image/png"},             {"i.jpg", "image/jpeg"},
        {"i.jpeg", "image/jpeg"},           {"i.gif", "image/gif"},
        {"i.webp", "image/webp"},           {"i.svg", "image/svg+xml"},
        {"f.woff", "font/woff"},            {"f.woff2", "font/woff2"},
        {"f.ttf", "font/ttf"},              {"s.mp3", "audio/mpeg"},
        {"s.ogg", "audio/ogg"},             {"w.wasm", "application/wasm"},
        {"LOGO.PNG", "image/png"},          {"Page.Html", "text/html"},
        {"x.Woff2", "font/woff2"},          {"archive.tar.gz", "application/octet-stream"},
        {"README", "application/octet-stream"},
        {"assets.v2/README", "application/octet-stream"},
        {"trailing.", "application/octet-stream"},
        {"x.html5", "application/octet-stream"},
        {"x.htmlx", "application/octet-stream"},
        {"x.woff3", "application/octet-stream"},
        {"", "application/octet-stream"},
    };
    for (auto& row : rows) EXPECT_STREQ(mime_type_for(row[0]), row[1]) << row[0];
}

TEST(PageEvents, EmbedTheJsonUnchangedInTheDispatchScript) {
    std::string json = R"({"type":"error","text":"Ошибка \"сети\" \\ 5"})";
    EXPECT_EQ(page_event_script(json),
              "window.dispatchEvent(new CustomEvent('launcher',{detail:" + json + "}));");
    EXPECT_EQ(page_event_script("").size(), 60u);
}

TEST(Navigation, AllowsOnlyThePagesAndTheDeveloperTools) {
    for (const char* url : {"http://ui/", "http://ui/index.html#/launcher", "http://ui/a/b?c",
                            "devtools:", "devtools://devtools/bundled/inspector.html"})
        EXPECT_TRUE(is_allowed_navigation(url)) << url;
    for (const char* url : {"", "http://ui", "HTTP://UI/", "http://UI/", "https://ui/",
                            "http://ui.example/", "http://uix/", " http://ui/", "devtools",
                            "DEVTOOLS:", "about:blank", "file:///C:/x.html"})
        EXPECT_FALSE(is_allowed_navigation(url)) << url;
}
