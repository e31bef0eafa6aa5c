// The shared rules of the extensions' elements: the server's refusal of each kind of
// value word for word, and that the tools take no value the server would refuse.
#include <gtest/gtest.h>

#include "config/ExtensionSettings.h"
#include "server/ServerSettings.h"

namespace corvel {
namespace {

std::vector<std::string> problemsOf(const std::string& elements) {
    ServerSettings settings;
    EXPECT_TRUE(applySettingsDocument("<c>" + elements + "</c>", settings));
    return settings.problems;
}

TEST(ExtensionSettings, TheServerRefusesEachKindInItsOwnWords) {
    const std::pair<const char*, const char*> refused[] = {
        {"<tls>yes</tls>", "<tls>yes</tls> is not off, explicit or required"},
        {"<webtls>true</webtls>", "<webtls>true</webtls> is not yes or no"},
        {"<pasvports>5000</pasvports>", "<pasvports>5000</pasvports> is not a range of ports such as 50000-50099"},
        {"<banfailures>5x</banfailures>", "<banfailures>5x</banfailures> is not a number of failed logins"},
        {"<banwindow>0</banwindow>", "<banwindow>0</banwindow> is not a number of minutes (1 or more)"},
        {"<banminutes>525601</banminutes>", "<banminutes>525601</banminutes> is not a number of minutes (1 or more)"},
        {"<maxperip>-1</maxperip>", "<maxperip>-1</maxperip> is not a number of connections"},
        {"<maxprelogin>8x</maxprelogin>", "<maxprelogin>8x</maxprelogin> is not a number of connections"},
        {"<webmaxperip>1000001</webmaxperip>", "<webmaxperip>1000001</webmaxperip> is not a number of connections"},
        {"<proxyfrom>, ,</proxyfrom>", "<proxyfrom>, ,</proxyfrom> is not a list of address patterns"},
        {"<webcharset>utf 8</webcharset>", "<webcharset>utf 8</webcharset> is not a character set name such as utf-8"},
        {"<webcharset></webcharset>", "<webcharset></webcharset> is not a character set name such as utf-8"},
    };
    for (const auto& [elements, text] : refused)
        EXPECT_EQ(problemsOf(elements), std::vector<std::string>{text}) << elements;
    // The server reads these leniently or only when it uses them.
    EXPECT_TRUE(problemsOf("<maxwebconn>0</maxwebconn><pasvaddress>a b</pasvaddress><tlscert></tlscert>").empty());
}

TEST(ExtensionSettings, WhatTheToolsTakeTheServerTakesToo) {
    const std::pair<const char*, const char*> values[] = {
        {"tls", "explicit"},     {"tls", "Explicit"},         {"webtls", "yes"},          {"tlsreuse", "no "},
        {"pasvports", "1-65535"}, {"pasvports", "9-8"},        {"pasvports", "50000-"},    {"banfailures", "0"},
        {"banwindow", "0"},       {"banminutes", "525600"},    {"maxperip", "0000000001"}, {"maxperip", "00000000001"},
        {"maxwebconn", "0"},      {"proxyfrom", "10.0.0.5, 10.0.0.*"}, {"proxyfrom", "10.0.0.0/8"},
        {"webcharset", "UTF-8"},  {"webcharset", "utf-8\"><script>"}, {"webcharset", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},  // 41: one too long
    };
    int taken = 0;
    for (const auto& [name, text] : values) {
        const ExtensionElement* element = findExtensionElement(name);
        ASSERT_NE(element, nullptr) << name;
        if (extensionValueProblem(*element, text)) continue;
        ++taken;
        EXPECT_TRUE(problemsOf(std::string("<") + name + ">" + text + "</" + name + ">").empty()) << name << text;
    }
    EXPECT_EQ(taken, 8);
    const ExtensionElement& address = *findExtensionElement("pasvaddress");
    EXPECT_FALSE(extensionValueProblem(address, "203.0.113.7"));
    EXPECT_FALSE(extensionValueProblem(address, "ftp.example.com"));
    for (const char* bad : {"", "203.0.113", "ftp example.com", "-a.example", "a..b"})
        EXPECT_TRUE(extensionValueProblem(address, bad)) << bad;
    EXPECT_EQ(findExtensionElement("ftpport"), nullptr);
}

}  // namespace
}  // namespace corvel
