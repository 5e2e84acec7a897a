#include "encoding/Lame_dll.h"

namespace {

const TLameDll realTable{&::beVersion,      &::beInitStream, &::beEncodeChunk,
                         &::beDeinitStream, &::beGetInfoTag, &::beCloseStream};

const TLameDll* currentTable = &realTable;

} // namespace

const TLameDll& RealLameDll() {
    return realTable;
}

const TLameDll& LameDll() {
    return *currentTable;
}

TLameDllOverride::TLameDllOverride(const TLameDll& table) : previous_(currentTable) {
    currentTable = &table;
}

TLameDllOverride::~TLameDllOverride() {
    currentTable = previous_;
}
