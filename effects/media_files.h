// The media files the scenes read, named as the code names them
// ("tavara\gay.jpg", which platform::dataPath turns into tavara/gay.jpg), and
// the whole list of what the show needs: the music, these files and the
// texture maps named inside the meshes that are drawn textured. The setups
// load these names; the capture program checks the list before it renders;
// the tests read the generated files through it.
//
// Main thread (the lists read mesh files, no GL).
#pragma once

#include <string>
#include <vector>

// A file a scene reads. For a mesh: whether its scene also loads the texture
// maps that its materials name (always false for a picture).
struct SceneFile {
    const char* path;
    bool textured = false;
};

namespace tavara {

inline constexpr char IMAGE8_JPG[] = "tavara\\image8.jpg";
inline constexpr char GAY_JPG[] = "tavara\\gay.jpg";
inline constexpr SceneFile FPS_3DS = {"tavara\\fps.3ds", true};
inline constexpr const char* C_JPG[6] = {"tavara\\c1.jpg", "tavara\\c2.jpg", "tavara\\c3.jpg",
                                         "tavara\\c4.jpg", "tavara\\c5.jpg", "tavara\\c6.jpg"};
inline constexpr const char* LETTER_JPG[3] = {"tavara\\letter1.jpg", "tavara\\letter2.jpg",
                                              "tavara\\letter3.jpg"};
inline constexpr SceneFile PALLO_3DS = {"tavara\\pallo.3ds", true};
inline constexpr char VTDEMO_JPG[] = "tavara\\vtdemo.jpg";
inline constexpr SceneFile LEVEL_3DS = {"tavara\\level.3ds", true};
inline constexpr char HUUTO_JPG[] = "tavara\\huuto.jpg";
inline constexpr char PLEASE_JPG[] = "tavara\\please.jpg";
inline constexpr char ALTTARI_JPG[] = "tavara\\alttari.jpg";
// Drawn plain white, so its texture maps are never opened.
inline constexpr SceneFile KIINA_3DS = {"tavara\\kiina.3ds", false};
inline constexpr char TULIMERI_JPG[] = "tavara\\tulimeri.jpg";
inline constexpr SceneFile NAINEN_3DS = {"tavara\\nainen.3ds", true};
inline constexpr char PIMEE_JPG[] = "tavara\\pimee.jpg";
inline constexpr char NEITO_JPG[] = "tavara\\neito.jpg";
inline constexpr SceneFile FPS2_3DS = {"tavara\\fps2.3ds", true};

} // namespace tavara

// Every file the scenes read, in the order in which the start-up's setups
// first read them.
inline constexpr SceneFile SCENE_FILES[] = {
    {tavara::IMAGE8_JPG}, {tavara::GAY_JPG},       tavara::FPS_3DS,         {tavara::C_JPG[0]},
    {tavara::C_JPG[1]},   {tavara::C_JPG[2]},      {tavara::C_JPG[3]},      {tavara::C_JPG[4]},
    {tavara::C_JPG[5]},   {tavara::LETTER_JPG[0]}, {tavara::LETTER_JPG[1]}, {tavara::LETTER_JPG[2]},
    tavara::PALLO_3DS,    {tavara::VTDEMO_JPG},    tavara::LEVEL_3DS,       {tavara::HUUTO_JPG},
    {tavara::PLEASE_JPG}, {tavara::ALTTARI_JPG},   tavara::KIINA_3DS,       {tavara::TULIMERI_JPG},
    tavara::NAINEN_3DS,   {tavara::PIMEE_JPG},     {tavara::NEITO_JPG},     tavara::FPS2_3DS,
};

// The music's module file, then SCENE_FILES in their order.
std::vector<std::string> showMediaFiles();
// The texture maps named by the materials of the meshes drawn textured, as
// stored in the files, each once, in the order of the meshes in SCENE_FILES
// (only meshes that can be read count).
std::vector<std::string> meshTextureFiles();
