// quarry web: generated file; quarry-cli web replaces it
