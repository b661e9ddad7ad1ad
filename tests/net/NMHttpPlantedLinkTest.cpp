#include "net/NMHttp.h"

#include "HttpFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

using namespace httptest;

TEST(NMHttpFailure, ABodyFileNamePlantedAsALinkIsNotWrittenThrough) {
    // A piece's name taken over by a symbolic link to another file of the user: the capture
    // refuses it, and the other file keeps its content.
    const std::string victim = ::testing::TempDir() + "nmhttp_victim_" + std::to_string(getpid());
    const std::string piece = ::testing::TempDir() + "nmhttp_piece_" + std::to_string(getpid());
    std::ofstream(victim) << "keep me";
    std::remove(piece.c_str());
    ASSERT_EQ(symlink(victim.c_str(), piece.c_str()), 0);
    ScriptedServer server;
    server.Expect(Answer(Response("HTTP/1.0 206 Partial Content", "", "body bytes")));
    net::TNMHTTP h;
    h.InputFileMode = true;
    h.Body = piece;
    EXPECT_THROW(h.Get(LocalUrl(server, "/")), net::EFileStreamError);
    std::ifstream in(victim);
    std::string kept((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(kept, "keep me");
    EXPECT_TRUE(server.WaitForPeerClose(0, 2s)) << "the connection is closed";
    std::remove(piece.c_str());
    std::remove(victim.c_str());
}
