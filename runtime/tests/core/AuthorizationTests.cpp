#include "core/Authorization.h"
#include "core/KestroAgentError.h"

#include <gtest/gtest.h>

using namespace kestro;

TEST(AuthorizationTest, TheFirstPresentHeaderDecides) {
    using Headers = std::map<std::string, std::string>;
    EXPECT_EQ(presentedToken(Headers{{"authorization", "Bearer t"}}), "t");
    EXPECT_EQ(presentedToken(Headers{{"authorization", "Bearer Bearer t"}}), "t");
    EXPECT_EQ(presentedToken(Headers{{"authorization", "bearer t"}}), "bearer t");
    EXPECT_EQ(presentedToken(Headers{{"x-vesk-token", "v"}, {"authorization", "Bearer t"}}), "v");
    EXPECT_EQ(presentedToken(Headers{{"x-kestro-token", ""}, {"x-vesk-token", "v"}}), "");
    EXPECT_FALSE(presentedToken(Headers{{"cookie", "t"}}).has_value());
}

TEST(AuthorizationTest, OnlyTheExactTokenPasses) {
    const std::string token = "abc123";
    EXPECT_NO_THROW(authorize({{"x-kestro-token", "abc123"}}, token));
    for (const std::string presented : {"ABC123", "abc12", "abc1234", "", " abc123"}) {
        try {
            authorize({{"x-kestro-token", presented}}, token);
            ADD_FAILURE() << "accepted '" << presented << "'";
        } catch (const KestroAgentError& error) {
            EXPECT_EQ(error.errorCase(), KestroAgentError::Case::unauthorized);
            EXPECT_EQ(error.httpStatus(), 401);
            EXPECT_STREQ(error.what(), "Unauthorized request.");
        }
    }
    EXPECT_THROW(authorize({}, token), KestroAgentError);
    // An empty configured token is matched by an empty presented one, never by its absence.
    EXPECT_NO_THROW(authorize({{"authorization", ""}}, ""));
    EXPECT_THROW(authorize({}, ""), KestroAgentError);
}
