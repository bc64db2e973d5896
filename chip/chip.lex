%option noyywrap
%%
.|\n ;
%%
