// placeholder until the engine sources land
