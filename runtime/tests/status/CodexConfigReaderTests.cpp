#include "status/CodexConfigReader.h"

#include <gtest/gtest.h>

using namespace kestro;

TEST(CodexConfigReaderTest, MCPNamesComeFromTheFirstColumn) {
    const std::string listing = "Name   Command  Args  Env  Status  Auth\n"
                                "docs   npx      -y    -    enabled Unsupported\n"
                                "docs   npx      -y    -    enabled Unsupported\n"
                                "alpha  node     x.js  -    enabled Unsupported\n"
                                "Statusboard  cmd  -  -  enabled  -\n"
                                "single spaced\n"
                                "alone\n"
                                "  web.tool_1   https://x  \n";
    EXPECT_EQ(parseMCPServerList(listing), (std::vector<std::string>{"alpha", "docs", "web.tool_1"}));
    EXPECT_TRUE(parseMCPServerList("No MCP servers configured yet.").empty());
}

TEST(CodexConfigReaderTest, ComputerUseIsACaseInsensitiveContainment) {
    EXPECT_TRUE(computerUseConfigured({"docs", "Computer-Use-Bridge"}));
    EXPECT_FALSE(computerUseConfigured({"computer_use"}));
    EXPECT_FALSE(computerUseConfigured({}));
}
