#include "core/TerminalQRCode.h"
#include "support/TemporaryFolder.h"
#include "support/TerminalQRImage.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace kestro;
using namespace kestro::testing;

TEST(TerminalQRCodeTest, ReadsBackAsTheLinkInsideAQuietZone) {
    TemporaryFolder folder;
    const std::string token = "5f0c2a9e8b7d4c3f9a1e6b5d4c3b2a19";
    for (const std::string& link :
         {"kestro://pair?name=Studio&host=192.168.1.20&port=8787&token=" + token +
              "&workdir=/home/me&preferred=1",
          "kestro://pair?name=Caf%C3%A9%20Gr%C3%B6%C3%9Fe&host=10.0.0.5&port=9000&token=" + token +
              "&workdir=/srv/" + std::string(240, 'w') + "&preferred=1"}) {
        const auto text = terminalQRCode(link);
        ASSERT_TRUE(text.has_value());
        std::vector<std::string> lines;
        std::istringstream stream(*text);
        for (std::string line; std::getline(stream, line);)
            lines.push_back(line);
        const auto modules = terminalQRModules(lines);
        ASSERT_TRUE(modules.has_value()) << *text;
        const size_t side = modules->front().size();
        // Square modules: the odd side leaves one more light row below, in the last line.
        ASSERT_EQ(modules->size(), side + 1);
        // Four light modules on every side, as a camera needs to find the code.
        for (size_t row = 0; row < modules->size(); ++row) {
            for (size_t column = 0; column < side; ++column) {
                const bool border = row < 4 || row >= side - 4 || column < 4 || column >= side - 4;
                if (border) {
                    ASSERT_FALSE((*modules)[row][column]) << row << "," << column;
                }
            }
        }
        EXPECT_EQ(decodedQRModules(*modules, folder.path()), link);
    }
    EXPECT_FALSE(terminalQRCode("kestro://pair?host=" + std::string(2400, 'h')).has_value());
}
