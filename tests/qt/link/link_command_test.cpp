// ubin-link's command line: what each one sends, and the status and one line of each mistake.
#include "tools/ubin-link/link_command.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace ubin::link;

namespace {

struct Parsed {
    std::variant<LinkOrder, int> order;
    std::string out, err;
};

Parsed Parse(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    auto order = ParseLinkArguments(args, out, err);
    return {std::move(order), out.str(), err.str()};
}

} // namespace

TEST(LinkCommand, ArgumentsGiveWhatIsSent)
{
    const struct {
        std::vector<std::string> args;
        QString service, topic;
        int timeoutMs;
        LinkCommand command;
        QStringList texts;
    } cases[] = {
        {{"execute", "730-0014"}, "Marubeta", "Form1", 5000, LinkCommand::Execute, {"730-0014"}},
        {{"--service", "Other", "--topic=T", "--timeout", "250", "request", "IT1", "IT3"},
         "Other", "T", 250, LinkCommand::Request, {"IT1", "IT3"}},
        // After the command every word is a text, even one that looks like an option.
        {{"execute", "--timeout"}, "Marubeta", "Form1", 5000, LinkCommand::Execute, {"--timeout"}},
        {{"watch", "IT1", "--help"}, "Marubeta", "Form1", 5000, LinkCommand::Watch, {"IT1", "--help"}},
        {{"execute", "広島市中区"}, "Marubeta", "Form1", 5000, LinkCommand::Execute, {"広島市中区"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const Parsed p = Parse(c.args);
        ASSERT_TRUE(std::holds_alternative<LinkOrder>(p.order)) << p.err;
        const LinkOrder& o = std::get<LinkOrder>(p.order);
        EXPECT_EQ(o.service, c.service);
        EXPECT_EQ(o.topic, c.topic);
        EXPECT_EQ(o.timeoutMs, c.timeoutMs);
        EXPECT_EQ(o.command, c.command);
        EXPECT_EQ(o.texts, c.texts);
        EXPECT_EQ(p.err, "");
    }
}

TEST(LinkCommand, MistakesEndWithStatusTwoAndOneLine)
{
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{}, "no COMMAND"},
        {{"--bogus", "execute", "x"}, "unknown option --bogus"},
        {{"-x"}, "unknown option -x"},
        {{"send", "x"}, "unknown command send"},
        {{"execute"}, "execute takes one TEXT"},
        {{"execute", "a", "b"}, "execute takes one TEXT"},
        {{"request"}, "request needs at least one ITEM"},
        {{"--timeout", "0", "execute", "x"}, "--timeout"},
        {{"--timeout", "12ms", "execute", "x"}, "--timeout"},
        {{"--service", "a|b", "execute", "x"}, "bad service name"},
        {{"--service", "", "execute", "x"}, "bad service name"},
        {{"--topic"}, "--topic"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        const Parsed p = Parse(c.args);
        ASSERT_TRUE(std::holds_alternative<int>(p.order));
        EXPECT_EQ(std::get<int>(p.order), 2);
        EXPECT_EQ(p.out, "");
        EXPECT_TRUE(p.err.starts_with("ubin-link: ")) << p.err;
        EXPECT_NE(p.err.find(c.says), std::string::npos) << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
    }
}

TEST(LinkCommand, HelpAndVersionPrintAndEndWithZero)
{
    for (const char* option : {"--help", "--version"}) {
        const Parsed p = Parse({option, "execute"});
        ASSERT_TRUE(std::holds_alternative<int>(p.order)) << option;
        EXPECT_EQ(std::get<int>(p.order), 0);
        EXPECT_NE(p.out.find("ubin-link"), std::string::npos) << p.out;
        EXPECT_EQ(p.err, "");
    }
}

TEST(LinkCommand, PrintedTextsKeepToOneLine)
{
    const struct {
        QString text, printed;
    } cases[] = {
        {"730", "730"}, {"a\tb", "a\\tb"}, {"c:\\x", "c:\\\\x"}, {"1\r\n2", "1\\r\\n2"}, {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Escaped(c.text), c.printed) << c.text.toStdString();
}
