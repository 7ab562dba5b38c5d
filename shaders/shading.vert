#version 120
// Passes the eye-space normal and position and the rotated 3D texture coordinate on to the
// fragment stage. The texture matrix of unit 0 holds the texture rotation, so it is applied
// here to the coordinate of set 0.

varying vec3 eyeNormal;
varying vec3 eyePosition;
varying vec3 volumeCoord;

void main()
{
    gl_Position = ftransform();
    eyeNormal = gl_NormalMatrix * gl_Normal;
    eyePosition = vec3(gl_ModelViewMatrix * gl_Vertex);
    volumeCoord = vec3(gl_TextureMatrix[0] * gl_MultiTexCoord0);
}
