#pragma once

// Reports the first pending OpenGL error as a fatal error naming where it was found. Off by
// default, so the viewer never pays for glGetError; tests switch it on.
void setGlErrorChecking(bool enabled);
void checkGlErrors(const char* where);
