// Distances along the path nodes of a track. Node numbers rise in the driving
// direction and wrap at the node count.
#pragma once

namespace tmx {

// Nodes driven from a to b going forward: 0 when equal, else b - a, plus the
// node count when b lies below a.
inline int forwardNodes(int a, int b, int nodeCount) {
    if (a == b) return 0;
    return b < a ? b - a + nodeCount : b - a;
}

// How far the car ahead leads: its node minus ours, plus the node count when
// its node is lower (it has passed the node numbers' wrap) and not 0.
inline int gapToCarAhead(int aheadNode, int ownNode, int nodeCount) {
    const int gap = aheadNode - ownNode;
    return aheadNode < ownNode && aheadNode != 0 ? gap + nodeCount : gap;
}

// How far the car behind trails: our node minus its, plus the node count when
// its node is higher (we have passed the wrap, it has not) and not 0.
inline int gapToCarBehind(int ownNode, int behindNode, int nodeCount) {
    const int gap = ownNode - behindNode;
    return behindNode > ownNode && behindNode != 0 ? gap + nodeCount : gap;
}

// The following distance to the car ahead, counted across the wrap of the
// node numbers the short way round (so a car level with it or just past it
// reads as 0 or a little below), and 0 within two nodes either way.
inline int followingGap(int aheadNode, int ownNode, int nodeCount) {
    int gap = aheadNode - ownNode;
    if (nodeCount > 0) {
        if (gap < -nodeCount / 2) gap += nodeCount;
        else if (gap > nodeCount / 2) gap -= nodeCount;
    }
    return gap >= -2 && gap <= 2 ? 0 : gap;
}

// A node number brought into 0 .. nodeCount - 1.
inline int wrapNode(int node, int nodeCount) {
    if (nodeCount <= 0) return node;
    node %= nodeCount;
    return node < 0 ? node + nodeCount : node;
}

}  // namespace tmx
