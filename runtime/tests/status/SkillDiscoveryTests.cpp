#include "status/SkillDiscovery.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

using namespace kestro;
using kestro::testing::TemporaryFolder;

TEST(SkillDiscoveryTest, FrontMatterAndBodyRules) {
    TemporaryFolder folder;
    const auto parse = [&](const std::string& name, const std::string& text) {
        return parseSkill(folder.write(name + "/SKILL.md", text), "User").value();
    };
    const auto deploy = parse("a", "---\nname: deploy\ndescription: Ship it\n---\n# Body\n");
    EXPECT_EQ(deploy.name, "deploy");
    EXPECT_EQ(deploy.description, "Ship it");
    EXPECT_EQ(deploy.source, "User");
    EXPECT_EQ(parse("b", "---\nname: \"deploy\"\n---\n").name, "\"deploy\"");
    const auto heading = parse("tool", "\n\n# Deploy tool\ntext\n");
    EXPECT_EQ(heading.name, "tool");
    EXPECT_EQ(heading.description, "# Deploy tool");
    EXPECT_EQ(parse("c", "").description, "Reusable Codex skill");
    EXPECT_EQ(parse("d", "---\ndescription:   \n---\n").description, "Reusable Codex skill");
    const auto unclosed = parse("e", "---\nname: open\nbody line\n");
    EXPECT_EQ(unclosed.name, "open");
    EXPECT_EQ(unclosed.description, "---");
    EXPECT_EQ(parse("f", "---\nname: one\nname: two\n---\n").name, "two");
    EXPECT_FALSE(parseSkill(folder.write("g/SKILL.md", "bad \xFF bytes"), "User").has_value());
    EXPECT_FALSE(parseSkill(folder.path() + "/missing/SKILL.md", "User").has_value());
}

TEST(SkillDiscoveryTest, RootsRunFromTheFixedOnesUpToTheFileSystemRoot) {
    const auto roots = skillRoots("/w/project", "/home/me");
    EXPECT_EQ(roots, (std::vector<SkillRoot>{{"/home/me/.codex/skills", "User"},
                                             {"/home/me/.agents/skills", "User"},
                                             {"/etc/codex/skills", "Admin"},
                                             {"/w/project/.agents/skills", "Repo"},
                                             {"/w/.agents/skills", "Repo"},
                                             {"/.agents/skills", "Repo"}}));
}

TEST(SkillDiscoveryTest, WalksRootsLabelsSortsAndDeduplicates) {
    TemporaryFolder home;
    home.write(".codex/skills/.system/imagegen/SKILL.md", "---\nname: imagegen\n---\n");
    home.write(".codex/skills/mine/SKILL.md", "---\nname: Zed\n---\n");
    home.write(".codex/skills/deep/.hidden/nested/SKILL.md", "---\nname: alpha\n---\n");
    home.write(".codex/skills/other/skill.md", "---\nname: lower-case file\n---\n");
    home.write(".agents/skills/shared/SKILL.md", "---\nname: shared\n---\n");
    home.write(".agents/skills/.system/sys/SKILL.md", "---\nname: sys\n---\n");
    home.write("project/.agents/skills/same/SKILL.md", "---\nname: same\n---\n");
    home.write("project/.agents/skills/again/SKILL.md", "---\nname: same\n---\n");
    const auto skills = detectSkills(home.path() + "/project", home.path());
    std::vector<std::string> listed;
    for (const auto& skill : skills)
        listed.push_back(skill.source + ":" + skill.name);
    // ~/.agents/skills is reached again as a repository root of the project's ancestor (home);
    // its /.system/ skill is the same record both times and is listed once.
    EXPECT_EQ(listed, (std::vector<std::string>{"Repo:same", "Repo:same", "Repo:shared", "System:imagegen",
                                                "System:sys", "User:alpha", "User:shared", "User:Zed"}));
}
