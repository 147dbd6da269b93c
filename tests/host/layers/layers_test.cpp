// The host layer's rooms lie in strict layers: a file includes headers of
// its own room or of a room in a lower layer, never one beside or above
// it. The order is the table "The rooms" of docs/host-layer.md, read here,
// so that the map a reader follows is the one that is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Room name -> layer, from the rows "| 3 | `drives/` | ... |".
std::map<std::string, int> ReadLayers(const fs::path &doc)
{
    std::map<std::string, int> layers;
    std::ifstream in(doc);
    const std::regex row(R"(^\|\s*([0-9]+)\s*\|\s*`([a-z0-9_]+)/`\s*\|)");
    std::string line;
    std::smatch m;
    while (std::getline(in, line))
        if (std::regex_search(line, m, row)) layers[m[2]] = std::stoi(m[1]);
    return layers;
}

// Every fault of the tree under host/, one line each: a file outside every
// room, an include of an unknown room, an include that points sideways or up.
std::vector<std::string> Faults(const fs::path &host, const std::map<std::string, int> &layers)
{
    std::vector<std::string> faults;
    const std::regex include(R"re(^\s*#\s*include\s*"platform/host/([^"]+)")re");
    for (const auto &entry : fs::recursive_directory_iterator(host)) {
        if (!entry.is_regular_file()) continue;
        const fs::path rel = fs::relative(entry.path(), host);
        const std::string name = rel.generic_string();
        if (name == "win32_api.h" || name == "CMakeLists.txt") continue;
        const std::string room = rel.begin()->string();
        const auto own = layers.find(room);
        if (std::distance(rel.begin(), rel.end()) != 2 || own == layers.end()) {
            faults.push_back(name + ": lies outside every room");
            continue;
        }
        std::ifstream in(entry.path());
        std::string line;
        std::smatch m;
        while (std::getline(in, line)) {
            if (!std::regex_search(line, m, include)) continue;
            const std::string target = m[1];
            if (target == "win32_api.h") continue;
            const std::string to = target.substr(0, target.find('/'));
            const auto other = layers.find(to);
            if (other == layers.end())
                faults.push_back(name + ": includes " + target + ", outside every room");
            else if (to != room && other->second >= own->second)
                faults.push_back(name + " (layer " + std::to_string(own->second) + ") includes " + target +
                                 " (layer " + std::to_string(other->second) + ")");
        }
    }
    return faults;
}

std::string Join(const std::vector<std::string> &lines)
{
    std::ostringstream out;
    for (const auto &l : lines) out << l << '\n';
    return out.str();
}

TEST(Layers, EveryIncludeOfTheHostLayerPointsDown)
{
    const fs::path source(PFM_SOURCE_DIR);
    const auto layers = ReadLayers(source / "docs/host-layer.md");
    ASSERT_GE(layers.size(), 10u) << "the table of rooms in docs/host-layer.md was not found";
    const auto faults = Faults(source / "platform/host", layers);
    EXPECT_TRUE(faults.empty()) << Join(faults);
}

// The check itself: a planted upward include, a sideways one and a stray
// file are each found; an include of the own room or a lower one is not.
TEST(Layers, PlantedFaultsAreFound)
{
    const fs::path tree = fs::temp_directory_path() / ("pfm-layers-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(tree);
    auto write = [&](const std::string &name, const std::string &text) {
        fs::create_directories((tree / name).parent_path());
        std::ofstream(tree / name) << text;
    };
    write("win32_api.h", "");
    write("base/a.h", "#include \"platform/host/win32_api.h\"\n");
    write("text/b.cpp", "#include \"platform/host/base/a.h\"\n#include \"platform/host/text/b.h\"\n");
    write("registry/c.cpp", "#include \"platform/host/drives/d.h\"\n#include \"platform/host/disk_image/e.h\"\n");
    write("stray.cpp", "");
    const std::map<std::string, int> layers{{"base", 0}, {"text", 1}, {"registry", 2}, {"disk_image", 2}, {"drives", 3}};
    const auto faults = Faults(tree, layers);
    fs::remove_all(tree);
    EXPECT_EQ("registry/c.cpp (layer 2) includes disk_image/e.h (layer 2)\n"
              "registry/c.cpp (layer 2) includes drives/d.h (layer 3)\n"
              "stray.cpp: lies outside every room\n",
              Join([&] { auto f = faults; std::sort(f.begin(), f.end()); return f; }()));
}

}  // namespace
