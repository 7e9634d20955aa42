#ifndef RINGWAVE_EFFECT_EFFECT_PARAMS_H_
#define RINGWAVE_EFFECT_EFFECT_PARAMS_H_

// The nine random speeds of one run, drawn once at start-up and read every frame.
struct EffectParams {
    double colourSpeed[3];  // palette phase speed of red, green, blue: 1/300000 to 1/300
    double driftSpeed[6];   // layer 0 x, 0 y, 1 x, 1 y, 2 x, 2 y: 0.0002 to 0.2
};

// Draws the nine speeds from the standard generator (rand), which the caller has seeded:
// red, green and blue colour speeds first, then the six drift speeds in field order. Nine
// consecutive rand() calls; no speed is ever 0.
EffectParams drawEffectParams();

#endif  // RINGWAVE_EFFECT_EFFECT_PARAMS_H_
