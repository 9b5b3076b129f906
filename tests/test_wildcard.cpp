#include "engine/wildcard.h"

#include <gtest/gtest.h>

using tessarine::MatchesWildcard;

TEST(Wildcard, StarDotStarMatchesEveryName) {
    for (const char* name : {"a.txt", "noext", ".hidden", "a.b.c", "写真.JPG", "-x", "@a"}) {
        EXPECT_TRUE(MatchesWildcard(name, "*.*")) << name;
        EXPECT_TRUE(MatchesWildcard(name, "*")) << name;
    }
}

TEST(Wildcard, ExtensionPatternsIgnoreCase) {
    EXPECT_TRUE(MatchesWildcard("photo.JPG", "*.jpg"));
    EXPECT_TRUE(MatchesWildcard("photo.jpg", "*.JpG"));
    EXPECT_TRUE(MatchesWildcard("a.b.txt", "*.txt"));
    EXPECT_TRUE(MatchesWildcard("日本.txt", "*.txt"));
    EXPECT_FALSE(MatchesWildcard("a.txt.bak", "*.txt"));
    EXPECT_FALSE(MatchesWildcard("atxt", "*.txt"));
    EXPECT_FALSE(MatchesWildcard("a.tx", "*.txt"));
}

TEST(Wildcard, QuestionMarkTakesOneWholeCharacter) {
    EXPECT_TRUE(MatchesWildcard("a.htm", "*.ht?"));
    EXPECT_TRUE(MatchesWildcard("写.txt", "?.txt"));
    EXPECT_FALSE(MatchesWildcard("ab.txt", "?.txt"));
}

TEST(Wildcard, DotRulesForMissingExtensions) {
    EXPECT_TRUE(MatchesWildcard("README", "README.*"));
    EXPECT_TRUE(MatchesWildcard("Makefile", "*."));
    EXPECT_FALSE(MatchesWildcard("a.txt", "*."));
}

TEST(Wildcard, SpecialCharactersInNamesAreLiteral) {
    EXPECT_TRUE(MatchesWildcard("[a].txt", "*.txt"));
    EXPECT_TRUE(MatchesWildcard("a\\b.txt", "*.txt"));
    EXPECT_FALSE(MatchesWildcard("b", "[ab]"));
}
