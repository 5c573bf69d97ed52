// The eight scenes of the show and the level layer drawn under one of them.
//
// Main thread, with the GL context current. frameTime is the mean duration of
// a frame-loop pass so far, in milliseconds; every render callback advances its
// state by rates per millisecond times frameTime.
#pragma once

class Model;
class Texture;

int ekaSetup();
void ekaRender(float frameTime);
void tokaSetup();
void tokaRender(float frameTime);
void kakaSetup();
void kakaRender(float frameTime);
void muijaSetup();
void muijaRender(float frameTime);
void jokuSetup();
void jokuRender(float frameTime);
void neljasSetup();
void neljasRender(float frameTime);
int tymaSetup();
void tymaRender(float frameTime);
int loppuSetup();
void loppuRender(float frameTime);
void levelSetup();
void levelRender(float frameTime);

// Textures one scene loads and another draws.
extern Texture* ekaPulseTexture; // "tavara\gay.jpg", loaded by ekaSetup
extern Texture* titleTexture;    // "tavara\vtdemo.jpg", loaded by tokaSetup

// The level layer's model, null until levelSetup ran (tests read its texture
// coordinates, which the layer scrolls in place).
Model* levelLoadedModel();
