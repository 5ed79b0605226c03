// Our GL loader (win/gl_loader.h): the resolution rules with stand-in
// resolvers, then the real thing against opengl32.dll with and without a
// current WGL context.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "gl_loader.h"
#include "wgl_window.h"
#include "win_gl.h"

namespace {

using iap::win::GlProc;
using iap::win::GlSource;

GlProc fakeProc(std::intptr_t value) { return reinterpret_cast<GlProc>(value); }

template <typename F>
GlProc asProc(F proc) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
    return reinterpret_cast<GlProc>(proc);
#pragma GCC diagnostic pop
}

// Stand-ins: a distinct fake pointer per name (its length and first
// letters), from "wgl" for names with "Bind" in them, from the DLL for the
// others, except glBlendFunc, which neither has.
std::intptr_t nameValue(const char* name) {
    return 0x10000 + static_cast<std::intptr_t>(std::strlen(name)) * 0x100 + name[2] * 2 + name[3];
}
GlProc wglFake(const char* name) {
    return std::strstr(name, "Bind") ? fakeProc(nameValue(name)) : fakeProc(-1);
}
GlProc exportFake(const char* name) {
    if (std::strstr(name, "Bind") || std::strcmp(name, "glBlendFunc") == 0) return nullptr;
    return fakeProc(nameValue(name) + 1);
}

TEST(GlResolve, FallsBackToTheExportOnEveryWglFailureValue) {
    static std::intptr_t wglValue;
    GlProc (*wgl)(const char*) = [](const char*) { return fakeProc(wglValue); };
    GlProc (*exported)(const char*) = [](const char*) { return fakeProc(0x5000); };

    for (std::intptr_t failure : {0, 1, 2, 3, -1}) {
        wglValue = failure;
        const auto r = iap::win::resolveGl("glClear", wgl, exported);
        EXPECT_EQ(r.source, GlSource::Export) << failure;
        EXPECT_EQ(r.proc, fakeProc(0x5000)) << failure;
    }
    wglValue = 0x4000;
    const auto fromWgl = iap::win::resolveGl("glCreateShader", wgl, exported);
    EXPECT_EQ(fromWgl.source, GlSource::Wgl);
    EXPECT_EQ(fromWgl.proc, fakeProc(0x4000));

    wglValue = 3;
    const auto none = iap::win::resolveGl("glNothing", wgl, [](const char*) -> GlProc { return nullptr; });
    EXPECT_EQ(none.source, GlSource::None);
    EXPECT_EQ(none.proc, nullptr);
    EXPECT_EQ(iap::win::resolveGl("glClear", nullptr, nullptr).source, GlSource::None);
}

TEST(GlLoad, FillsEveryEntryAndNamesTheMissingOnes) {
    const auto report = iap::win::loadGl(wglFake, exportFake);
    ASSERT_EQ(report.missing.size(), 1u);
    EXPECT_EQ(report.missing[0], "glBlendFunc");
    EXPECT_FALSE(report.ok());
    EXPECT_EQ(report.fromWgl + report.fromExports + 1, iap::win::glEntryCount());
    EXPECT_GT(report.fromWgl, 3);  // glBindBuffer, glBindTexture, ...

    // The macros the back-end and the tool call through see the same table.
    EXPECT_EQ(asProc(glViewport), fakeProc(nameValue("glViewport") + 1));
    EXPECT_EQ(asProc(glBindTexture), fakeProc(nameValue("glBindTexture")));
    EXPECT_EQ(asProc(glBindFramebuffer), fakeProc(nameValue("glBindFramebuffer")));
    EXPECT_EQ(glBlendFunc, nullptr);
    EXPECT_EQ(iap::win::loadedGl("glGetStringi"), fakeProc(nameValue("glGetStringi") + 1));
    EXPECT_EQ(iap::win::loadedGl("glNotAnEntry"), nullptr);
}

class RealGl : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.create(L"gl loader test", 64, 64, false)) << window_.error();
    }
    iap::win::test::WglWindow window_;
};

TEST_F(RealGl, LoadsEveryEntryWithTheContextCurrent) {
    const auto report = iap::win::loadGl();
    std::string missing;
    for (const auto& name : report.missing) missing += name + " ";
    ASSERT_TRUE(report.ok()) << "missing: " << missing;

    // OpenGL 1.1 comes from opengl32.dll's exports, the rest from wgl.
    HMODULE opengl = GetModuleHandleW(L"opengl32.dll");
    ASSERT_NE(opengl, nullptr);
    EXPECT_EQ(iap::win::loadedGl("glClear"),
              asProc(GetProcAddress(opengl, "glClear")));
    EXPECT_EQ(GetProcAddress(opengl, "glCreateShader"), nullptr);
    EXPECT_NE(iap::win::loadedGl("glCreateShader"), nullptr);
    EXPECT_GT(report.fromExports, 0);
    EXPECT_GT(report.fromWgl, 0);

    // The back-end's shaders ("#version 130") need OpenGL 3.0.
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    EXPECT_GE(std::atoi(version), 3) << version;
    EXPECT_EQ(glGetError(), 0u);
}

TEST_F(RealGl, WithoutACurrentContextReportsWhatIsMissing) {
    ASSERT_TRUE(wglMakeCurrent(nullptr, nullptr));
    const auto report = iap::win::loadGl();
    EXPECT_FALSE(report.ok());
    bool createShaderMissing = false;
    for (const auto& name : report.missing) createShaderMissing |= name == "glCreateShader";
    EXPECT_TRUE(createShaderMissing);
    EXPECT_NE(iap::win::loadedGl("glClear"), nullptr);  // an export all the same
}

}  // namespace
