#!/bin/sh
# Runs an Emscripten compiler or linker step with the Node.js module path that Debian's
# emscripten needs (its JavaScript tools load `acorn` from /usr/share/nodejs).
NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
export NODE_PATH
exec "$@"
