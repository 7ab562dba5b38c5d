#version 120
// Lights the volume's colour with one directional light fixed to the viewer:
//
//   colour = texel * (lightAmbient + lightDiffuse * max(n . l, lightMin))
//          + lightSpecular * max(n . h, 0) ^ lightExponent
//
// where n is the unit normal, l = lightVec (eye space, unit length) and h the half vector
// between l and the direction to the eye. lightMin is the floor of the diffuse term, so faces
// turned away from the light keep some shape instead of falling to the ambient level. The
// specular term is added only when lightSpecular is non-zero.

uniform sampler3D volume; // never set: samples texture unit 0
uniform float lightAmbient;
uniform float lightDiffuse;
uniform float lightSpecular;
uniform float lightExponent;
uniform float lightMin;
uniform vec3 lightVec;

varying vec3 eyeNormal;
varying vec3 eyePosition;
varying vec3 volumeCoord;

void main()
{
    vec3 n = normalize(eyeNormal);
    vec3 texel = texture3D(volume, volumeCoord).rgb;
    float diffuse = max(dot(n, lightVec), lightMin);
    vec3 colour = texel * (lightAmbient + lightDiffuse * diffuse);
    if (lightSpecular != 0.0) {
        vec3 h = normalize(lightVec + normalize(-eyePosition));
        colour += vec3(lightSpecular * pow(max(dot(n, h), 0.0), lightExponent));
    }
    gl_FragColor = vec4(colour, 1.0);
}
