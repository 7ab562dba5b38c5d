#include "modelbench.h"

#include "meshimport.h"
#include "modelfixture.h"
#include "commandtable.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <utility>

namespace {
double cpuSeconds(int who) {
    rusage usage = {};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Reads the model through Assimp with the converter's steps and the extra ones, in a process of
// its own as the converter's import runs; whether it read.
bool readAlone(const std::string& model, unsigned int extraSteps) {
    const pid_t child = fork();
    if (child == 0) {
        Assimp::Importer importer;
        const unsigned int steps = prepareImporter(&importer, false) | extraSteps;
        const aiScene* scene = importer.ReadFile(model, steps);
        _exit(scene && scene->mNumMeshes > 0 ? 0 : 1);
    }
    int status = 1;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The best wall-clock and the best CPU seconds (this process and its ended children) of three
// runs of body; false when a run fails.
bool bestOfThree(const std::function<bool()>& body, std::pair<double, double>* best) {
    *best = {1e30, 1e30};
    for (int run = 0; run < 3; ++run) {
        const double cpu = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN);
        const auto start = std::chrono::steady_clock::now();
        if (!body())
            return false;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best->first = std::min(best->first, wall);
        best->second =
            std::min(best->second, cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN) - cpu);
    }
    return true;
}
} // namespace

void benchmarkModels(long long triangles) {
    // segments = 2 * (rings - 1) keeps the triangles near square at the equator.
    const int rings = std::max(2, int(std::lround(std::sqrt(double(triangles) / 4)))) + 1;
    const int segments = 2 * (rings - 1);
    std::printf("\n== Models: tessary-vol mesh of a lumpy sphere, binary PLY, %lld triangles ==\n",
                lumpySphereTriangles(segments, rings));
    QTemporaryDir scratch;
    const std::string model = scratch.filePath("sphere.ply").toStdString();
    const std::string written = writeLumpySpherePly(model, segments, rings, 0.05);
    if (!written.empty()) {
        std::printf("  %s\n", written.c_str());
        return;
    }
    std::pair<double, double> assimp, joined, tool;
    const bool readOk =
        bestOfThree([&] { return readAlone(model, 0); }, &assimp) &&
        bestOfThree([&] { return readAlone(model, aiProcess_JoinIdenticalVertices); }, &joined);
    const QString out = scratch.filePath("sphere.dat");
    const bool toolOk = bestOfThree(
        [&] {
            // Its closing line would come three times among the figures.
            std::fflush(stdout);
            const int saved = dup(STDOUT_FILENO), null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            const int status =
                runVolumeTool({"tessary-vol", "mesh", QString::fromStdString(model), "-o", out});
            std::fflush(stdout);
            dup2(saved, STDOUT_FILENO);
            close(saved);
            close(null);
            return status == 0;
        },
        &tool);
    if (!readOk || !toolOk) {
        std::printf("  failed: %s\n", readOk ? "tessary-vol mesh" : "Assimp's read");
        return;
    }
    const std::pair<const char*, std::pair<double, double>> rows[] = {
        {"Assimp's read with the converter's steps", assimp},
        {"  the same and Assimp's join of vertices", joined},
        {"tessary-vol mesh (start to output)", tool}};
    std::printf("  %-44s %8s %8s %14s\n", "", "wall s", "CPU s", "CPU ratio");
    for (const auto& [name, times] : rows)
        std::printf("  %-44s %8.2f %8.2f %14.2f\n", name, times.first, times.second,
                    times.second / assimp.second);
    std::printf("  (target: the converter within 2 times the first row)\n");
}
