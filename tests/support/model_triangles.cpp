// model-triangles MODEL: reads a model through Assimp with triangulation only and prints the
// triangles its scene draws (each mesh counted at every node that places it) and how many of
// them have two corners at one position, as "TRIANGLES REPEATED". The model sweep checks that
// tessary-vol mesh keeps all but those. Exit status 1 when Assimp cannot read the model.

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cstdio>

namespace {
struct Counts {
    unsigned long long triangles = 0, repeated = 0;
};

bool samePosition(const aiVector3D& a, const aiVector3D& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z; // 0 and -0 alike
}

void count(const aiScene& scene, const aiNode& node, const aiMatrix4x4& parent, Counts* counts) {
    const aiMatrix4x4 transform = parent * node.mTransformation;
    for (unsigned int i = 0; i < node.mNumMeshes; ++i) {
        const aiMesh& mesh = *scene.mMeshes[node.mMeshes[i]];
        for (unsigned int f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace& face = mesh.mFaces[f];
            if (face.mNumIndices != 3)
                continue;
            // Placed as the converter places them, so that rounding joins the same corners.
            aiVector3D p[3];
            for (int k = 0; k < 3; ++k)
                p[k] = transform * mesh.mVertices[face.mIndices[k]];
            ++counts->triangles;
            counts->repeated += samePosition(p[0], p[1]) || samePosition(p[1], p[2]) ||
                                samePosition(p[2], p[0]);
        }
    }
    for (unsigned int c = 0; c < node.mNumChildren; ++c)
        count(scene, *node.mChildren[c], transform, counts);
}
} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: model-triangles MODEL\n");
        return 2;
    }
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(argv[1], aiProcess_Triangulate);
    if (!scene || !scene->mRootNode) {
        std::fprintf(stderr, "%s: %s\n", argv[1], importer.GetErrorString());
        return 1;
    }
    Counts counts;
    count(*scene, *scene->mRootNode, aiMatrix4x4(), &counts);
    std::printf("%llu %llu\n", counts.triangles, counts.repeated);
    return 0;
}
