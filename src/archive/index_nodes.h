// The node section of a version 2 index: folders and symbolic links of a
// packed tree, records with no member after the last entry record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/index_format.h"
#include "common/status.h"

// Why a node cannot be stored or read (a static text), or null when it can.
const char* index_node_fault(const IndexNode& node);

// Appends the node count and every node's record.
void index_nodes_build(const std::vector<IndexNode>& nodes, std::vector<uint8_t>& out);

// Reads the node section from bytes[pos, end) into nodes, pos left after it.
// Fails with damaged_index, fault saying which check failed.
[[nodiscard]] Status index_nodes_parse(const uint8_t* bytes, size_t& pos, size_t end, std::vector<IndexNode>& nodes,
                                       const char*& fault);
