Pellam audio driver package 2.0 (sample placeholder): br10dos.com
