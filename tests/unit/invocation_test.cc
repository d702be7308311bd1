#include "launcher/invocation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmot {
namespace {

// Keeps the argument strings alive for the views an ArgumentVector hands out.
class Argv {
  public:
    explicit Argv(std::vector<std::string> entries) : entries_(std::move(entries)) {
        for (const std::string& e : entries_)
            pointers_.push_back(e.c_str());
        pointers_.push_back(nullptr);
    }
    ArgumentVector view() const {
        return ArgumentVector(static_cast<int>(entries_.size()), pointers_.data());
    }

  private:
    std::vector<std::string> entries_;
    std::vector<const char*> pointers_;
};

std::optional<std::string> name_of(const std::string& argv0) {
    const Argv argv({argv0});
    const std::optional<std::string_view> name = invocation_name(argv.view());
    if (!name) return std::nullopt;
    return std::string(*name);
}

TEST(InvocationName, IsTheLastComponentOfArgv0) {
    const std::pair<std::string, std::string> cases[] = {
        {"/usr/local/bin/velmot", "velmot"},
        {"velmot-notes", "velmot-notes"},
        {"./velmot", "velmot"},
        {"tools/velmot-notes/", "velmot-notes"},
        {"tools/velmot-notes/.", "velmot-notes"},
        {"tools//velmot-notes//./", "velmot-notes"},
        {"/opt/tools/velmot-notes", "velmot-notes"},
        {"\xff\xfe/velmot", "velmot"},
        {"...", "..."},
    };
    for (const auto& [argv0, name] : cases) {
        SCOPED_TRACE(argv0);
        EXPECT_EQ(name_of(argv0), name);
    }
}

TEST(InvocationName, HasNoFileNameForDotsSlashesOrBadBytes) {
    for (std::string argv0 : {"tools/..", "..", ".", "/", "", "//", "./", "./.", "bin/\xff"}) {
        SCOPED_TRACE(argv0);
        EXPECT_EQ(name_of(argv0), std::nullopt);
    }
    EXPECT_EQ(invocation_name(ArgumentVector(0, nullptr)), std::nullopt);
    const char* const only_null[] = {nullptr};
    EXPECT_EQ(invocation_name(ArgumentVector(1, only_null)), std::nullopt);
}

TEST(InvocationPlugin, CoreAndPluginNames) {
    const auto core = invocation_plugin("velmot");
    ASSERT_TRUE(core.has_value());
    EXPECT_EQ(core->plugin_id, std::nullopt);

    const std::pair<std::string, std::string> plugins[] = {
        {"velmot-notes", "notes"},
        {"velmot-0", "0"},
        {"velmot-9lives", "9lives"},
        {"velmot-a.b_c-d", "a.b_c-d"},
        {"velmot-plugin-cli-client2", "plugin-cli-client2"},
        {"velmot-plugin-cli", "plugin-cli"},
        {"velmot-" + std::string(128, 'a'), std::string(128, 'a')},
    };
    for (const auto& [name, id] : plugins) {
        SCOPED_TRACE(name);
        const auto identity = invocation_plugin(name);
        ASSERT_TRUE(identity.has_value());
        EXPECT_EQ(identity->plugin_id, id);
    }
}

TEST(InvocationPlugin, RefusesOtherNames) {
    for (const std::string& name : std::vector<std::string>{"velmot-",
                                                            "velmot--x",
                                                            "velmot-.x",
                                                            "velmot-_x",
                                                            "velmot-Notes",
                                                            "velmot-a b",
                                                            "velmot-caf\xc3\xa9",
                                                            "velmot-\xd9\xa3",
                                                            "velmot-plugin-cli-client",
                                                            "Velmot",
                                                            "VELMOT",
                                                            "velmot2",
                                                            "velmotx",
                                                            "velmot.exe",
                                                            "velmot ",
                                                            "",
                                                            "xvelmot-notes",
                                                            "velmot-" + std::string(129, 'a'),
                                                            "velmot-a/b",
                                                            std::string("velmot-a\0b", 10)}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(invocation_plugin(name).has_value());
    }
}

std::optional<std::vector<std::string_view>> collect(std::vector<std::string> args, Argv& keep) {
    args.insert(args.begin(), "velmot");
    keep = Argv(std::move(args));
    return collect_arguments(keep.view());
}

TEST(CollectArguments, ForwardsEveryArgumentUnchanged) {
    Argv keep({});
    const std::vector<std::string> args = {"list", "", "--all", " -x ", "\xc3\xa9\t\x01", "--"};
    const auto collected = collect(args, keep);
    ASSERT_TRUE(collected.has_value());
    ASSERT_EQ(collected->size(), args.size());
    for (std::size_t i = 0; i < args.size(); ++i)
        EXPECT_EQ((*collected)[i], args[i]);

    const auto none = collect({}, keep);
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());
}

TEST(CollectArguments, AcceptsAtMost64) {
    Argv keep({});
    EXPECT_TRUE(collect(std::vector<std::string>(64, "a"), keep).has_value());
    EXPECT_FALSE(collect(std::vector<std::string>(65, "a"), keep).has_value());
}

TEST(CollectArguments, CountsCharactersNotBytes) {
    Argv keep({});
    std::string two_byte;
    for (int i = 0; i < 4096; ++i)
        two_byte += "\xc3\xa9";
    std::string four_byte;
    for (int i = 0; i < 4096; ++i)
        four_byte += "\xf0\x9f\x98\x80";
    EXPECT_TRUE(collect({std::string(4096, 'a')}, keep).has_value());
    EXPECT_TRUE(collect({two_byte}, keep).has_value());
    EXPECT_TRUE(collect({four_byte}, keep).has_value());
    EXPECT_FALSE(collect({std::string(4097, 'a')}, keep).has_value());
    EXPECT_FALSE(collect({two_byte + "a"}, keep).has_value());
}

TEST(CollectArguments, RefusesInvalidUtf8AnywhereInTheList) {
    Argv keep({});
    for (std::string bad : {"\xff", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(collect({bad}, keep).has_value());
        EXPECT_FALSE(collect({"ok", "fine", bad}, keep).has_value());
    }
}

}  // namespace
}  // namespace velmot
