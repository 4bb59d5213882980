// The splash on Linux: the product's splash image in a frameless, translucent window, centred
// on the screen and kept above other windows while the player starts. DestroySplash() removes
// it once content is on screen or a start-up step fails; it removes itself after 15 seconds.
//
// GUI thread only; the application's event loop serves it.
#ifndef CORVEL_APP_SPLASH_QT_H_
#define CORVEL_APP_SPLASH_QT_H_

// Shows the splash (when one is shown already, keeps it) with the image fitted into
// maxWidth × maxHeight (0 means 700 and 450), narrowed to 70 % of the screen. False, leaving no
// window behind, when the image is missing from the build or cannot be decoded.
bool CreateSplash(int maxWidth, int maxHeight);

// Removes the splash when one is shown. Safe at any time, any number of times.
void DestroySplash();

#endif  // CORVEL_APP_SPLASH_QT_H_
