// A query read once: its kind, its forms, and what copy and paste bring along unseen.
#include "base/cp932.h"
#include "search/query.h"

#include <gtest/gtest.h>

using namespace ubin;

TEST(Query, EachKindAsTyped)
{
    const struct {
        const char16_t* typed;
        QueryKind kind;
        const char16_t* digits;
    } cases[] = {
        {u"7300014", QueryKind::Postal, u"7300014"},
        {u"〒730-0014", QueryKind::Postal, u"7300014"},
        {u"７３０－００１４", QueryKind::Postal, u"7300014"},
        // Every dash a word processor or a web page writes between the digits.
        {u"730–0014", QueryKind::Postal, u"7300014"},
        {u"730—0014", QueryKind::Postal, u"7300014"},
        {u"730―0014", QueryKind::Postal, u"7300014"},
        {u"730〜0014", QueryKind::Postal, u"7300014"},
        {u"730～0014", QueryKind::Postal, u"7300014"},
        {u"730ー0014", QueryKind::Postal, u"7300014"},
        {u"〒 100 - 8111", QueryKind::Postal, u"1008111"},
        {u"73", QueryKind::Text, u""},
        {u"ぎんざ", QueryKind::Kana, u""},
        {u"ｷﾞﾝｻﾞ", QueryKind::Kana, u""},
        {u"ginza", QueryKind::Romaji, u""},
        {u"Ginza 4-chome", QueryKind::Romaji, u""},
        {u"銀座", QueryKind::Text, u""},
        {u"　 ", QueryKind::Empty, u""},
    };
    for (const auto& c : cases) {
        const Query q = Query::Read(c.typed);
        EXPECT_EQ(q.kind, c.kind) << ToUtf8(c.typed);
        EXPECT_EQ(q.postalDigits, c.digits) << ToUtf8(c.typed);
    }
    EXPECT_EQ(Query::Read(u"ginza").romaji, u"ギンザ");
}

TEST(Query, CharactersCopiedAlongUnseenAreDropped)
{
    // A zero-width space, joiner and non-joiner, a soft hyphen, a byte order mark, direction marks
    // and embeddings, a word joiner: none of them is part of what a person reads.
    for (const char16_t invisible : {u'\u200B', u'\u200C', u'\u200D', u'\u00AD', u'\uFEFF', u'\u200E', u'\u200F',
                                     u'\u202A', u'\u202E', u'\u2060', u'\u2066', u'\u2069'}) {
        std::u16string town = u"銀座";
        town.insert(1, 1, invisible);
        const Query q = Query::Read(town);
        EXPECT_EQ(q.typed, u"銀座") << static_cast<int>(invisible);
        EXPECT_EQ(q.name, NameForm(u"銀座"));
        std::u16string code = u"730-0014";
        code.insert(3, 1, invisible);
        EXPECT_EQ(Query::Read(code).postalDigits, u"7300014") << static_cast<int>(invisible);
    }
}

TEST(Query, ItsFormsAreThoseOfTheNormalization)
{
    for (const char16_t* typed : {u"千代田区永田町1-7-1", u"梅田3-1-1 3F", u"永田町１－７－１　１０１号室", u"ｶﾞ ｷﾞ", u"北二十四条 西5",
                                  u"霞ヶ関", u"丸の内 ＪＰタワー 30階"}) {
        const Query q = Query::Read(typed);
        EXPECT_EQ(q.search, SearchForm(typed)) << ToUtf8(typed);
        EXPECT_EQ(q.name, NameForm(typed)) << ToUtf8(typed);
        EXPECT_EQ(q.address, AddressForm(typed)) << ToUtf8(typed);
    }
}

TEST(Query, WhatNoSearchTakesIsRefusedBeforeAnythingElse)
{
    EXPECT_THROW(Query::Read(u"銀座\u0001"), QueryError);
    try {
        Query::Read(std::u16string(kMaxQueryLength + 1, u'銀'));
        FAIL() << "a query longer than a search takes was read";
    } catch (const QueryError& e) {
        EXPECT_EQ(e.fault(), QueryFault::TooLong);
    }
    // The invisible characters are not counted: the query a person sees is not too long.
    std::u16string padded(kMaxQueryLength, u'銀');
    padded.insert(10, 20, u'\u200B');
    EXPECT_NO_THROW(Query::Read(padded));
}
