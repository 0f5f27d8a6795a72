#pragma once
// The table of the program's open files, keyed by resolved path.

namespace lousa {

class ListaArquivos {
public:
    ListaArquivos() = default;
};

}  // namespace lousa
