#pragma once

// Building the GLSL program through the ARB shader-object entry points. Each function returns
// only on success; every failure is fatal, after the driver's info log has been printed.

// Reads the whole file and makes it the shader's single source string.
void loadShaderSource(unsigned int shader, const char* path);
void compileShader(unsigned int shader);
void linkProgram(unsigned int program);
