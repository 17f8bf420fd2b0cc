// The interface shared by the object matrices (KQUMatrix1D.h, KQUMatrix2D.h): grids of
// cells addressed by (column, row), each cell empty or holding one object, with the
// populated size tracked as the smallest rectangle from (0, 0) that holds every object.
//
// Every matrix is a template over its cell type: Object* for a grid that does not keep
// its objects alive (the caller removes an object before it goes), or
// std::shared_ptr<Object> for one that holds one reference per occupied cell. Storing an
// empty cell removes. Objects are found by identity (address), never by value.
//
// objectAccessorFunction() hands out a plain function that reads a cell without a virtual
// call, for tight loops. Enumerators and forEach read through the matrix by index with
// bounds checks, so a matrix may grow or shrink while one is in use; an enumerator refers
// to its matrix, which must outlive it. A matrix is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kqutility/collections/KQUPointerSet.h"

namespace kqu {

struct KQUMatrixCoordinates {
    uint16_t column = 0, row = 0;
    bool operator==(const KQUMatrixCoordinates&) const = default;
    // Packed into 32 bits: the column in the low half, the row in the high half.
    [[nodiscard]] uint32_t packed() const { return uint32_t(row) << 16 | column; }
    static KQUMatrixCoordinates unpacked(uint32_t v) { return {uint16_t(v & 0xFFFF), uint16_t(v >> 16)}; }
};

// Sizes hold up to 65536 (every 16-bit coordinate) and more for tiled allocation, so
// they are 32-bit.
struct KQUMatrixSize {
    uint32_t columns = 0, rows = 0;
    bool operator==(const KQUMatrixSize&) const = default;
};

struct KQUMatrixRect {
    KQUMatrixCoordinates origin;
    KQUMatrixSize size;
};

// "(column,row)(width,height)"
inline std::string KQUMatrixRectDescription(const KQUMatrixRect& r) {
    return fmt::format("({},{})({},{})", r.origin.column, r.origin.row, r.size.columns, r.size.rows);
}

// What a cell type means: the object it points at, how to get its address, and the
// identity set that answers removed objects (retaining for a retaining matrix).
template <typename Cell>
struct KQUMatrixCell;
template <typename T>
struct KQUMatrixCell<T*> {
    using Object = T;
    using Set = KQUMutablePointerSet<T>;
    static T* address(T* cell) { return cell; }
};
template <typename T>
struct KQUMatrixCell<std::shared_ptr<T>> {
    using Object = T;
    using Set = KQUMutableRetainedPointerSet<T>;
    static T* address(const std::shared_ptr<T>& cell) { return cell.get(); }
};

template <typename Cell>
class KQUMatrixEnumerator {
public:
    virtual ~KQUMatrixEnumerator() = default;
    // The next occupied cell's object, or an empty cell at the end.
    virtual Cell nextObject() = 0;
};

template <typename Cell>
class KQUMatrix {
public:
    using Object = typename KQUMatrixCell<Cell>::Object;
    // Reads a cell: nullptr for an empty cell or outside the matrix.
    using AccessorFunction = Object* (*)(const KQUMatrix&, KQUMatrixCoordinates);

    virtual ~KQUMatrix() = default;

    // The number of occupied cells.
    [[nodiscard]] virtual size_t objectCount() const = 0;
    // Populated columns x populated rows.
    [[nodiscard]] size_t count() const {
        KQUMatrixSize s = populatedSize();
        return size_t(s.columns) * s.rows;
    }
    [[nodiscard]] virtual KQUMatrixSize populatedSize() const = 0;
    virtual void removeAllObjects() = 0;
    // Empties every cell holding object.
    virtual void removeObject(const Object* object) = 0;
    // Appends every occupied cell, in the order forEach visits them.
    virtual void addObjectsToArray(std::vector<Cell>& array) const = 0;
    [[nodiscard]] virtual std::unique_ptr<KQUMatrixEnumerator<Cell>> objectEnumerator() const = 0;
    // Calls visit with the object of each occupied cell (see each design for the order).
    virtual void forEach(const std::function<void(Object&)>& visit) const = 0;
    // Stores object (an empty cell removes) and answers the cell's previous content.
    virtual Cell setObject(Cell object, KQUMatrixCoordinates at) = 0;
    [[nodiscard]] virtual Cell objectAt(KQUMatrixCoordinates at) const = 0;
    [[nodiscard]] virtual AccessorFunction objectAccessorFunction() const = 0;
};

}  // namespace kqu
