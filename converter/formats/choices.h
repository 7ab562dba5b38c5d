#pragma once

// What info prints of an input that holds several parts, of which pack needs one picked.

#include <QString>

#include <string>
#include <vector>

// A file of several volumes (time points, frames) cannot be read until one is picked: how many
// there are, numbered as --volume counts. Nothing for a file of one.
void printVolumes(const QString& path, const char* format, long long volumes, const char* what);

// A file of several arrays, one of which --dataset picks: their names. Nothing for one.
void printArrays(const QString& path, const char* format, const std::vector<std::string>& names);
