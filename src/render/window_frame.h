// The viewer's frames in its window: each drawn at the window's size from
// display list 1, shown, and left for the depth pick to read back.
#pragma once

// The viewer's frame: drawFrame at the window's size from display list 1,
// then the read-back the depth pick uses. Returns false as drawFrame does.
bool renderFrame();

// The display callback: renderFrame, then show it and wait for it to finish.
void display();
