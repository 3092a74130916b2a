#include "status/PluginCatalog.h"

#include <gtest/gtest.h>

using namespace kestro;

TEST(PluginCatalogTest, HeadersGiveIdentifiersSourcesAndCatalogTexts) {
    const auto plugins =
        detectPlugins("[plugins.\"github@shared\"]\n\n[plugins.\"my-tool\"]\nenabled = false\n");
    ASSERT_EQ(plugins.size(), 2u);
    EXPECT_EQ(plugins[0], (KestroAgentPluginPayload{.identifier = "my-tool",
                                                    .displayName = "My Tool",
                                                    .source = "local",
                                                    .category = "Connected",
                                                    .description = "Available through this Codex setup.",
                                                    .isEnabled = false}));
    EXPECT_EQ(plugins[1],
              (KestroAgentPluginPayload{.identifier = "github@shared",
                                        .displayName = "Github",
                                        .source = "shared",
                                        .category = "Development",
                                        .description = "Triages PRs, issues, CI, and publishing flows.",
                                        .isEnabled = true}));
}

TEST(PluginCatalogTest, OnlyTheTextFalseDisables) {
    const auto enabled = [](const std::string& value) {
        return detectPlugins("[plugins.\"x\"]\nenabled = " + value + "\n").at(0).isEnabled;
    };
    EXPECT_FALSE(enabled("false"));
    EXPECT_FALSE(enabled("\"false\""));
    EXPECT_TRUE(enabled("False"));
    EXPECT_TRUE(enabled("0"));
    EXPECT_TRUE(enabled("true"));
    // Everything up to the next plugin header belongs to the plugin, other tables included.
    EXPECT_FALSE(detectPlugins("[plugins.\"x\"]\n[mcp_servers.y]\nenabled = false\n").at(0).isEnabled);
    EXPECT_TRUE(detectPlugins("[plugins.\"x\"]\n[plugins.\"y\"]\nenabled = false\n").at(0).isEnabled);
}

TEST(PluginCatalogTest, MalformedHeadersAreNotRecognised) {
    EXPECT_TRUE(detectPlugins("  [plugins.\"x\"]\n").empty());
    EXPECT_TRUE(detectPlugins("[plugins.\"x\"] # note\n").empty());
    EXPECT_TRUE(detectPlugins("[plugins.x]\n").empty());
    EXPECT_EQ(detectPlugins("[plugins.\"x@\"]  \n").at(0).source, "");
    EXPECT_EQ(detectPlugins("[plugins.\"a\"]\n[plugins.\"a\"]\n").size(), 2u);
}

TEST(PluginCatalogTest, SortedByCategoryThenName) {
    const auto plugins =
        detectPlugins("[plugins.\"vercel\"]\n[plugins.\"zeta\"]\n[plugins.\"computer-use\"]\n"
                      "[plugins.\"gmail\"]\n[plugins.\"alpha\"]\n[plugins.\"documents\"]\n"
                      "[plugins.\"linear\"]\n[plugins.\"figma\"]\n");
    std::vector<std::string> names;
    for (const auto& plugin : plugins)
        names.push_back(plugin.displayName);
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Zeta", "Computer Use", "Figma", "Linear",
                                               "Documents", "Vercel", "Gmail"}));
}

TEST(PluginCatalogTest, DisplayNames) {
    EXPECT_EQ(pluginDisplayName("build-ios-apps"), "Build iOS Apps");
    EXPECT_EQ(pluginDisplayName("hugging-face"), "Hugging Face");
    EXPECT_EQ(pluginDisplayName("my--cool-TOOL"), "My Cool Tool");
    EXPECT_EQ(pluginDisplayName("émoji-été"), "Émoji Été");
}
