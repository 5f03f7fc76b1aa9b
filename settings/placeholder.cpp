// placeholder until the settings sources land
