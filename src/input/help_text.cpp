#include "input/help_text.h"

#include "analysis/param_table.h"
#include "input/table_limits.h"

namespace kavrel {

namespace {

const char* const kIntroduction[] = {
    "\n\nhelp:\n",
    "usage:\nkavrel <inputfile >outputfile\n",
    "\nsymbolic linear network analysis program by kavrel developers, version 1.0\n",
    "Mayeda's method for active networks is implemented using a\n",
    "modified Chan's implementation of Minty's algorithm for evaluating\n",
    "spanning trees of network graphs. (see references 2 and 3 below)\n",
    "\nnetlist element definitions, hints, references, and examples follow:\n",

    "\nthe netlist constitutes entries of one- and two- port elements,\n",
    "a mandatory port designator, and optional parameter, normalization,\n",
    "numeric value, negation, and test entries. the order of the entries\n",
    "does not matter, except that the end entry must come last.\n",
    "an input may hold several netlists, each terminated by end; every\n",
    "netlist is analysed on its own, independently of the others.\n",
    "bracketed comments may stand inline anywhere, and entries are separated by\n",
    "whitespace.\n",

    "\ncomments are bracketed; and may be nested: {comments... {comments... } ...}\n",
    "\ninput lines may be concatenated when separated by whitespace:\n",
    "space,tab,cr,lf,comma,semicolon\n",
    "\nnode numbers are arbitrary in the range 0 to 999\n",

    "\nthe output may also be printed as one rational function expression that\n",
    "computer algebra systems such as MAXIMA can read. Use t 4096 for this option.\n",

    "\nnumeric values make it possible for terms to combine into simpler expressions.\n",
    "the first instance of a numeric value for a particular element symbolic reference\n",
    "is assigned to all instances of that reference; later values for the same\n",
    "reference are ignored. a value is given right after the element declaration,\n",
    "introduced by v or V. elements without a value stay symbolic, and elements\n",
    "with a value never appear as symbols in the output expressions.\n",
    "syntax:\n",
    "<one- or two- port element declaration> <whitespace> v <whitespace> <floating point number> <whitespace>\n",

    "\nAn x or X separated by <whitespace> preceeding any one- or two-port element causes the symbolic\n",
    "value of that element to be negated. negating a reactive element (l, c or m)\n",
    "gives its conjugate reactance. for a two-port element the output port nodes are\n",
    "reversed. a negated one-port element is embedded in a negative impedance\n",
    "converter built of an ideal op amp and two unit conductances; these generated\n",
    "elements take up resources (see the resource table below), but they are never\n",
    "shown: only the negated element itself is\n",
    "present in output expressions.\n",

    "\na few examples:\n",
    "\nr23 8 4 v 1e3\n",
    "r3 6 4 V -11\n",
    "L 6 2 v 100\n",
    "GM5 1 3 2 4 v 38.4\n",
    "C 6 3 V 4.7e-12\n",
    "x c 5 3\n",
    "X L12 1 7\n",
    "x m12 1 3 5 7\n",
    "x r4 6 2\n",

    "\none-port (two-terminal) passive elements:\n",
    "r,l,c,g,y,z (lower case or upper case) prefix, null up to 8 character suffix,\n",
    "whitespace, first node#,whitespace,second node#\n",
    "r<suffix> <n1#> <n2#>\n",
    "l<suffix> <n1#> <n2#>\n",
    "c<suffix> <n1#> <n2#>\n",
    "g<suffix> <n1#> <n2#>\n",
    "y<suffix> <n1#> <n2#>\n",
    "z<suffix> <n1#> <n2#>\n",
    "\nexamples--\n",
    "r 0 4\n",
    "L23a 7 41\n",
    "g2 3 8\n",
    "(gm, gy, and rm are reserved for two-port elements)\n",

    "\ntwo-port (four-terminal) active elements:\n",
    "gm,gy,o,u,b,rm,m (lower case or upper case) prefix, null up to 8 character suffix,\n",
    "whitespace, +output node#, whitespace, -output node#, whitespace, +input node#, whitespace, -input node#,\n",
    "gm<suffix> <+out#> <-out#> <+in#> <-in#>\n",
    "gy<suffix> <+out#> <-out#> <+in#> <-in#>\n",
    "o<suffix> <+out#> <-out#> <+in#> <-in#>\n",
    "u<suffix> <+out#> <-out#> <+in#> <-in#>\n",
    "b<suffix> <+out#> <-out#> <+in#> <-in#>\n",
    "rm<suffix> <+out#> <-out#> <+in#> <-in#>\n",
    "m<suffix> <+out#> <-out#> <+in#> <-in#>\n",
    "positive current enters +nodes except port 2 in ABCD parameters and port 1 in abcd parameters.\n",
    "gm denotes voltage controlled current source,\n",
    "gy denotes gyrator,\n",
    "o denotes ideal operational amplifier (nullor),\n",
    "u denotes voltage controlled voltage source,\n",
    "b denotes current controlled current source,\n",
    "rm denotes current controlled voltage source,\n",
    "m denotes a mutual inductance\n",
    "\ncontrolled source orientation:\n",
    "         rm, u                               gm, b\n",
    "  +out o---( +  - )---o -out         +out o---( --> )---o -out\n",
    "  v(+out,-out) = rm * i(+in,-in)     current +out to -out = gm * v(+in,-in)\n",
    "  v(+out,-out) =  u * v(+in,-in)     current +out to -out =  b * i(+in,-in)\n",
    "  (i(+in,-in): current entering +in and leaving -in through the shorted input)\n",
    "examples--\n",
    "gm2 1 2 3 4\n",
    "U3 3 0 7 5\n",
    "o 6 3 2 9\n",
    "O 3 1 3 4\n",

    "\nmandatory port designator-- \n",
    "f (lower case or upper case),\n",
    "whitespace, +port1 node#, whitespace, -port1 node#, whitespace, +port2 node#, whitespace, -port2 node#\n",
    "f <+p1#> <-p1#> <+p2#> <-p2#>\n",
    "for f i j k l, port 1 is (i,j) and port 2 is (k,l); a parameter is written\n",
    "with the port of its first subscript first:\n",
    "examples: y(i,j;k,l) == y12\n",
    "g(k,l;i,j) == g21 etc.\n",
    "with f 3 7 9 10 and p g21 the function is\n",
    "g(9, 10; 3, 7) = v(9, 10)/v(3, 7) for i(9, 10) = 0\n",
    "example--\n",
    "f 1 3 2 4\n",

    "\ntwo-port parameter notation:\n",
    "\noptional parameter designator-- may be repeated for multiple parameters;\n",
    "if it is omitted, default is evaluating all 32 parameter functions:\n",
    "p (lower or upper case), whitespace, one of these parameter names:\n",
    "g11 g12 g21 g22 h11 h12 h21 h22 y11 y12 y21 y22 z11 z12 z21 z22\n",
    "A B C D a b c d s11 s12 s21 s22 f11 f12 f21 f22\n",
    "case of letters is sensitive for ABCD and abcd only\n",
    "y: short circuit admittance parameters, (i1, i2) = y (v1, v2)\n",
    "z: open circuit impedance parameters, (v1, v2) = z (i1, i2)\n",
    "h: hybrid parameters, (v1, i2) = h (i1, v2)\n",
    "g: inverse hybrid parameters, (i1, v2) = g (v1, i2)\n",
    "A B C D: forward chain parameters, (v1, i1) = [A B; C D] (v2, -i2)\n",
    "a b c d: reverse chain parameters, (v2, i2) = [a b; c d] (v1, -i1)\n",
    "s: scattering parameters, normalized as chosen by n, n1 and n2\n",
    "F: scattering forward chain parameters (f11 f12 f21 f22 or F11 F12 F21 F22)\n",
    "examples--\np g21\n",
    "P y11\n",
    "p Y12\n",
    "p a p b p c p d p g21\n",
    "p A\n",

    "\nn # or N # specifies simple normalization for s and F parameters: 0- Y0, 1- Z0, 2(or greater)- unity\n",
    "if n 0 is omitted, the default is Y0\n",
    "example--\nn 1\n",
    "\nn1 node# node# or N1 node# node# for port 1, n2 node# node# or N2 node# node# for port 2,\n"
    "name the two nodes of a normalizing network used in place of Y0 or Z0 at that port.\n",
    "a normalizing network is written as a separate, floating part of the netlist between\n",
    "its two nodes; it is connected to its port internally.\n",
    "reactive (complex) normalizing networks are conjugated internally for the numerators\n",
    "of the s and F parameters; their denominators use the networks as given.\n",
    "example--\nN1 7 18\nn2 11 5\nr01 7 18 v 50\nr02 11 5 v 75\n",

    "\nt # anywhere before end line shows intermediate results: 1-input data dump,2-raw tree listing,\n"
    "8-matched trees and permutation listing,16-mixed unit trees,32-admittance trees,64-resource usage\n",
    "4096-output format in rational function expression form for use in\n",
    "computer algebra systems, such as MAXIMA.\n",
    "other values are used for debugging.\n",
    "examples--\n",
    "t 65\n",
    "t 4096\n",
    "t 4160\n",

    "\ne or end  terminates input\n",
    "example--\n",
    "end\n",

    "\nhints:\n",
    "a region of the network is floating (isolated) when it is joined to the rest of\n",
    "the network only through two-port elements, for instance the input side of a\n",
    "controlled source. let such a region share a node with the rest of the network,\n",
    "or connect it with a single branch; a single connecting branch cancels from the\n",
    "results, but it costs processing time.\n",
    "all nodes must form one connected graph when each two-port element is counted\n",
    "as two one-port branches, one across its output nodes and one across its input\n",
    "nodes.\n",
    "ideal op amps are modelled as nullors: the polarity of their input and output\n",
    "nodes does not affect the expressions, so stability must be judged with other\n",
    "models of the amplifier (see the op amp models in reference 4).\n",
    "example networks at the end demonstrate this\n",

    "\nresource burden of input element types:\n",
    "elem prefix, branch name list, node list, passive edges, active edges\n",
    "r,l,c,g,y,z        1           no extra         1             0\n",
    " GM, O             1           no extra         0             1\n",
    " GY                2           no extra         0             2\n",
    "  U, B             3            1 extra         1             2\n",
    " RM                5            2 extra         2             3\n",
    "  M               10            6 extra         4             6\n",
    "x prefix of 2port  0           no extra         0             0\n",
    "x prefix of 1port  3            1 extra         2             1\n",
    "any s or F param  12            8 extra         8             4\n",
    "each normalizing   1+          no extra+        0+            1+\n",
    "  network        (+ burden of conjugate for all reactive elements\n",
    "                   in the normalizing networks: L, C, and M as above)\n",
    " the extra nodes and branches are invisible in the output\n",
    " currently configured resource limits exclusive of requirements\n",
    "for s and F parameters:\n",
};

const char* const kParameterSummary[] = {
    "\n",
    "\nparameter summary:\n",
    "these parameters are directly computed:\n",
    "g11, g12, g21, g22, h11, h12, h21, h22,\n",
    "y11, y12, y21, y22, z11, z12, z21, z22,\n",
    "A, B, C, D, a, b, c, d,\n",
    "s11, s12, s21, s22, F11, F12, F21, F22.\n",
};

const char* const kTermsAndReferences[] = {
    "\nterms of use:\n",
    "kavrel is free software. anyone may use, copy, modify and distribute it, and\n",
    "the results it produces, for any purpose, with or without fee, provided that\n",
    "this notice stays with every copy of the program or of its source code.\n",
    "kavrel is provided \"as is\", without warranty of any kind, express or implied,\n",
    "including the warranties of merchantability, fitness for a particular purpose\n",
    "and noninfringement. in no event are the authors liable for any claim, damages\n",
    "or other liability arising from the use of the program or of its results.\n",
    "check symbolic results independently before a design relies on them.\n",
    "copyright (c) kavrel developers\n",

    "\n",
    "references:\n",
    "1. W. Mayeda, Graph Theory, Wiley-Interscience, 1972, the two-graph method.\n",
    "2. G. J. Minty, A simple algorithm for listing all the trees of a graph,\n",
    "   IEEE Transactions on Circuit Theory, 1965.\n",
    "3. S. P. Chan, Introductory Topological Analysis of Electrical Networks,\n",
    "   Holt, Rinehart and Winston, 1969.\n",
    "4. L. O. Chua and P. M. Lin, Computer-Aided Analysis of Electronic Circuits, 1975.\n",
    "5. C. A. Desoer and E. S. Kuh, Basic Circuit Theory, McGraw-Hill, 1969.\n",
    "\n\n",
    "sample netlists-- copy and paste to a file to use as input to see output\n\n",
};

const char* const kSallenKeyIntroduction =
    "{Sallen-Key active filters: the circuits are numbered as in\n"
    " R. P. Sallen and E. L. Key, A practical method of designing RC active\n"
    " filters, IRE Transactions on Circuit Theory, 1955.\n"
    " each circuit is an RC network around an amplifier U of gain k, with the\n"
    " input between nodes 1 and 3 and the output between nodes 2 and 3, so that\n"
    " g21 = v2/v1 for i2 = 0 is the voltage transfer function Vo/Vi.\n"
    " circuits 5, 7, 12 and 15 need an inverting amplifier of high input\n"
    " impedance; it is entered as U with its input nodes reversed.\n"
    " circuits 2, 4, 6, 8 and 9 are not listed. the expressions keep every\n"
    " element symbolic, so k, b and d appear as combinations of r, c and U.}\n";

// Each netlist is printed with "end" and a blank line after it.
const char* const kSampleNetlists[] = {
    "{circuit 1, Vo/Vi = k/(s^2 + d*s +1), lowpass}\n"
    "r1 1 4\nr2 4 5\nc1 2 4\nc2 5 3\nU 2 3 5 3\nf 1 3 2 3\np g21\n",
    "{circuit 3, k*s^2/(s^2 + d*s +1), highpass}\n"
    "c1 1 4\nc2 4 5\nr1 4 2\nr2 5 3\nU 2 3 5 3\nf 1 3 2 3\np g21\n",
    "{circuit 5, k*s/(s^2 + d*s +1), bandpass}\n"
    "r1 1 4\nr2 5 3\nc1 4 2\nc2 4 5\nU 2 3 3 5\nf 1 3 2 3\np g21\n",
    "{circuit 7, k*s/(s^2 + d*s +1), bandpass}\n"
    "c1 1 4\nc2 5 3\nr1 4 2\nr2 4 5\nU 2 3 3 5\nf 1 3 2 3\np g21\n",
    "{circuit 10, k*(s + b)/(s^2 + d*s +1), asymmetric bandpass}\n"
    "r1 2 4\nr2 1 5\nc1 4 3\nc2 5 4\nU 2 3 5 3\nf 1 3 2 3\np g21\n",
    "{circuit 11, k*(s + b)/(s^2 + d*s +1), asymmetric bandpass}\n"
    "r1 1 5\nr2 2 4\nc1 5 3\nc2 4 5\nU 2 3 5 3\nf 1 3 2 3\np g21\n",
    "{circuit 12, k*(s + b)/(s^2 + d*s +1), asymmetric bandpass}\n"
    "r1 1 4\nr2 1 5\nc1 2 4\nc2 4 5\nU 2 3 3 5\nf 1 3 2 3\np g21\n",
    "{circuit 13, k*s*(s + b)/(s^2 + d*s +1), asymmetric bandpass}\n"
    "r1 3 4\nr2 4 5\nc1 2 4\nc2 1 5\nU 2 3 5 3\nf 1 3 2 3\np g21\n",
    "{circuit 14, k*s*(s + b)/(s^2 + d*s +1), asymmetric bandpass}\n"
    "r1 5 3\nr2 2 4\nc1 1 5\nc2 4 5\nU 2 3 5 3\nf 1 3 2 3\np g21\n",
    "{circuit 15, k*s*(s + b)/(s^2 + d*s +1), asymmetric bandpass}\n"
    "r1 2 4\nr2 4 5\nc1 1 4\nc2 1 5\nU 2 3 3 5\nf 1 3 2 3\np g21\n",
    "{circuit 16, k*(s^2 + b*s +1)/(s^2 + d*s +1), biquad}\n"
    "r1 2 4\nr2 1 5\nc1 1 4\nc2 4 5\nU 2 3 5 3\nf 1 3 2 3\np g21\n",
    "{circuit 17, k*(s^2 + b*s +1)/(s^2 + d*s +1), biquad}\n"
    "r1 1 4\nr2 4 5\nc1 2 4\nc2 1 5\nU 2 3 5 3\nf 1 3 2 3\np g21\n",
    "{circuit 18, k*(s^2 +1)/(s^2 + d*s +1), biquad}\n"
    "{a twin tee of fixed proportions, made by repeating the symbols r1 and c1;\n"
    " the result keeps a common factor that is not cancelled}\n"
    "r1 1 4\nr1 4 5\nr1 6 2\nr1 6 2\nc1 1 6\nc1 6 5\nc1 4 2\nc1 4 2\n"
    "U 2 3 5 3\nf 1 3 2 3\np g21\n",

    "{examples to show parameter equivalences:}\n"
    "z11 1 3\nz22 2 4\nrm12 3 5 6 7\nrm21 4 6 5 7\nf 1 7 2 7\n",
    "y11 1 3\ny22 2 4\ngm21 2 4 1 3\ngm12 1 3 2 4\ngx 3 4\nf 1 3 2 4\n",
    "y11 1 3\ny22 2 3\ngm21 2 3 1 3\ngm12 1 3 2 3\nf 1 3 2 3\n",

    "{gyrator built of two ideal op amps and conductances}\n"
    "r1 4 7\nr1 3 4\nr1 5 6\nr1 3 6\ng1 1 3\ng1 1 2\ng1 5 2\no 3 7 1 4\no 5 7 2 6\n"
    "f 1 7 2 7\np z11 p  z12 p z21 p z22\np y11\np y12\np y21\np y22\n",
    "c1 1 7\nc2 2 7\nr1 4 7\nr1 3 4\nr1 5 6\nr1 3 6\ng1 1 3\ng1 1 2\ng1 5 2\n"
    "o 3 7 1 4\no 5 7 2 6\nf 1 7 2 7\np z11\np  z22\n",
    "{compare to native gyrator}\n"
    "gy 1 7 2 7\nf 1 7 2 7\np z11 p z12 p z21 p z22\np y11\np y12\np y21\np y22\n",
    "c1 1 7\nc2 2 7\ngy 1 7 2 7\nf 1 7 2 7\np z11 p z22\n",

    "{examples to show ambiguity due to the nullor model of opamps}\n"
    "{ideal opamp, positive feedback}\n"
    "opamp 2 0 3 0\nrin 1 3\nrf 2 3\nf 1 0 2 0\np g21\n",
    "{ideal opamp, negative feedback}\n"
    "opamp 2 0 0 3\nrin 1 3\nrf 2 3\nf 1 0 2 0\np g21\n",
    "{vcvs, positive feedback}\n"
    "uvcvs 2 0 3 0\nrin 1 3\nrf 2 3\nf 1 0 2 0\np g21\n",
    "{vcvs, negative feedback}\n"
    "uvcvs 2 0 0 3\nrin 1 3\nrf 2 3\nf 1 0 2 0\np g21\n",
    "{vcis, negative feedback}\n"
    "gmvcis 2 0 3 0\nrin 1 3\nrf 2 3\nf 1 0 2 0\np g21\n",
    "{vcis, positive feedback}\n"
    "gmvcis 2 0 0 3\nrin 1 3\nrf 2 3\nf 1 0 2 0\np g21\n",

    "{example demonstrating numeric value substitution}\n"
    "{element values adapted from a worked textbook example, see the references}\n"
    "f 1 2 3 4\np z11\nc1 1 3 v 78.56\nc2 3 4 v 11.42\nc3 4 2 v 1.111\n"
    "r1 3 4 v 0.0268\nr2 4 2 v 0.03446\n",
    "f 1 2 3 4\np z11\nc1 1 3 v 78.56\nc2 3 4 {v 11.42}\nc3 4 2 v 1.111\n"
    "r1 3 4 v 0.0268\nr2 4 2 v 0.03446\n",
    "f 1 2 3 4\np z11\nc1 1 3 {v 78.56}\nc2 3 4 {v 11.42}\nc3 4 2 {v 1.111}\n"
    "r1 3 4 {v 0.0268}\nr2 4 2 {v 0.03446}\n",
};

// The port digits turn the chain parameters' single letters into A21 .. d12.
void print_formula_line(FILE* out, const ParamRow& row) {
  std::fprintf(out, " %s%1d%1d = %s%1d/%s%1d for %s%1d = 0; topological formula: %c%s/%s\n",
               row.param_letter, port_number(row.first_port_pos),
               port_number(row.second_port_pos), row.num_quantity, port_number(row.num_pos),
               row.den_quantity, port_number(row.den_pos), row.held_quantity,
               port_number(row.held_pos), row.sign < 0 ? '-' : ' ',
               topofun_names[row.num_topofun], topofun_names[row.den_topofun]);
}

template <size_t N>
void print_lines(FILE* out, const char* const (&lines)[N]) {
  for (const char* line : lines) std::fprintf(out, "%s", line);
}

}  // namespace

void print_help(FILE* out) {
  print_lines(out, kIntroduction);

  std::fprintf(out, "branch name list %d\n", kNameListLimit);
  std::fprintf(out, "node list %d\n", kLabelledNodeLimit);
  std::fprintf(out, "passive edges %d\n", kPassiveLimit);
  std::fprintf(out, "active edges %d\n", kActiveLimit);

  print_lines(out, kParameterSummary);
  for (const ParamRow& row : param_table) {
    if (!is_scattering_row(row)) print_formula_line(out, row);
  }

  print_lines(out, kTermsAndReferences);
  std::fprintf(out, "%s", kSallenKeyIntroduction);
  for (const char* netlist : kSampleNetlists) std::fprintf(out, "%send\n\n", netlist);
}

}  // namespace kavrel
